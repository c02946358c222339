#include "gil_safe_once.h"

#include <chrono>
#include <stdexcept>
#include <string>

namespace vadu::python {
namespace {

using Clock = std::chrono::steady_clock;

// How long a fork gives another thread to finish the set-up: a set-up that
// imports in a fraction of a second is not cut short, and a fork never waits
// for good on a thread that waits for the forking one.
constexpr auto kForkWaitLimit = std::chrono::seconds(3);
// How often a waiting thread looks again. Waits are rare: init normally runs
// no Python code, so it ends before any other thread gets the interpreter.
constexpr auto kWaitStep = std::chrono::milliseconds(1);

void SleepWithoutInterpreterLock() {
  py::gil_scoped_release unlocked;
  std::this_thread::sleep_for(kWaitStep);
}

// Runs a fork hook of the once that `capsule` points to.
template <void (GilSafeOnce::*hook)() noexcept>
PyObject* CallForkHook(PyObject* capsule, PyObject* /*no arguments*/) {
  (static_cast<GilSafeOnce*>(PyCapsule_GetPointer(capsule, nullptr))->*hook)();
  Py_RETURN_NONE;
}

}  // namespace

void GilSafeOnce::GuardAcrossForks() {
  // The interpreter runs these around every fork it makes (os.fork and what is
  // built on it): before the fork in the forking thread, after it in the child,
  // where that thread is the only one. They are plain C functions: every fork
  // of a process that imports the module calls them, and the framework's call
  // machinery would cost more than what they do once the set-up is done.
  static PyMethodDef before{"before", CallForkHook<&GilSafeOnce::BeforeFork>, METH_NOARGS, nullptr};
  static PyMethodDef after_in_child{"after_in_child", CallForkHook<&GilSafeOnce::AfterForkInChild>,
                                    METH_NOARGS, nullptr};
  const py::capsule self(this);
  const auto hook = [&self](PyMethodDef& definition) {
    PyObject* function = PyCFunction_New(&definition, self.ptr());
    if (function == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(function);
  };
  py::module_::import("os").attr("register_at_fork")(py::arg("before") = hook(before),
                                                      py::arg("after_in_child") = hook(after_in_child));
}

bool GilSafeOnce::InsideOnThisThread() const {
  return std::find(inside_.begin(), inside_.end(), std::this_thread::get_id()) != inside_.end();
}

bool GilSafeOnce::InsideOnAnotherThread() const {
  return inside_.size() > (InsideOnThisThread() ? 1U : 0U);
}

void GilSafeOnce::RefuseSetUp() const {
  if (InsideOnThisThread()) {
    throw std::runtime_error(std::string(what_) +
                             " is still being set up on this thread; call again once that is done");
  }
  RefuseInChildForkedDuringSetUp();
}

void GilSafeOnce::RefuseInChildForkedDuringSetUp() const {
  if (forked_during_set_up_) {
    throw std::runtime_error(std::string(what_) +
                             " was being set up by another thread when the process forked");
  }
}

bool GilSafeOnce::WaitForTurnToInit() {
  // In a child forked midway, the thread running init is gone for good.
  while (initialising_ && !forked_during_set_up_) SleepWithoutInterpreterLock();
  if (done_) return false;
  RefuseInChildForkedDuringSetUp();
  return true;
}

void GilSafeOnce::BeforeFork() noexcept {
  // A thread that is inside itself forks at once: whoever else is inside may
  // be waiting for it.
  if (done_ || InsideOnThisThread()) return;
  const auto give_up_at = Clock::now() + kForkWaitLimit;
  while (InsideOnAnotherThread() && Clock::now() < give_up_at) SleepWithoutInterpreterLock();
}

void GilSafeOnce::AfterForkInChild() noexcept {
  if (InsideOnAnotherThread()) forked_during_set_up_ = true;
  // Only the forking thread lives on here.
  const std::thread::id forking = std::this_thread::get_id();
  std::erase_if(inside_, [forking](std::thread::id inside) { return inside != forking; });
}

}  // namespace vadu::python
