// The reset-callback bridge called the way a library may call it: from a native
// thread of its own that the interpreter has never seen, while the thread that
// started the reset waits with the interpreter lock let go.
#include "reset_callback_bridge.h"

#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include <exception>
#include <optional>
#include <thread>

namespace py = pybind11;

namespace vadu::pychipctl {
namespace {

class ResetCallbackBridge : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { interpreter_.emplace(); }
  static void TearDownTestSuite() { interpreter_.reset(); }

  void SetUp() override {
    py::exec(R"(
import threading
calls = []
raised = ValueError("cannot release buffers")
def record(device_id):
    calls.append((device_id, threading.get_ident()))
def fail(device_id):
    raise raised
)",
             scope_);
  }

  // What the callback threw on its thread, if anything.
  static std::exception_ptr CallOnNewThread(const dev_ctrl::ResetCallback& callback, int device_id) {
    std::exception_ptr thrown;
    py::gil_scoped_release released;
    std::thread([&] {
      try {
        callback(device_id);
      } catch (...) {
        thrown = std::current_exception();
      }
    }).join();
    return thrown;
  }

  py::dict scope_;

 private:
  static inline std::optional<py::scoped_interpreter> interpreter_;
};

TEST_F(ResetCallbackBridge, RunsPythonOnAThreadWithoutThreadState) {
  EXPECT_FALSE(CallOnNewThread(MakeResetCallback(scope_["record"]), 3));
  const py::list calls = scope_["calls"];
  ASSERT_EQ(calls.size(), 1u);
  const py::tuple call = calls[0];
  EXPECT_EQ(call[0].cast<int>(), 3);
  EXPECT_NE(call[1].cast<unsigned long>(),
            py::module_::import("threading").attr("get_ident")().cast<unsigned long>());
}

TEST_F(ResetCallbackBridge, BringsThePythonExceptionBackFromThatThread) {
  const std::exception_ptr thrown = CallOnNewThread(MakeResetCallback(scope_["fail"]), 3);
  ASSERT_TRUE(thrown);
  try {
    std::rethrow_exception(thrown);
  } catch (const py::error_already_set& error) {
    EXPECT_TRUE(error.matches(PyExc_ValueError));
    EXPECT_TRUE(error.value().is(scope_["raised"]));
  }
}

}  // namespace
}  // namespace vadu::pychipctl
