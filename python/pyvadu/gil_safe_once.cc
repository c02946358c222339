#include "gil_safe_once.h"

#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

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

// A finalising interpreter ends any other thread that asks for its lock back,
// by an unwind that a noexcept frame turns into an abort; nothing else comes
// out of that C call. A thread turned away so stays here instead, holding
// nothing, until the process ends.
void SleepWithoutInterpreterLock() {
  PyThreadState* const state = PyEval_SaveThread();
  std::this_thread::sleep_for(kWaitStep);
  try {
    PyEval_RestoreThread(state);
  } catch (...) {
    for (;;) pause();
  }
}

}  // namespace

void GilSafeOnce::GuardAcrossForks() {
  // The interpreter runs this in the forking thread before every fork it makes
  // (os.fork and what is built on it). A plain C function: the framework's call
  // machinery would cost more than what it does once the set-up is done.
  static PyMethodDef before{"before", &GilSafeOnce::BeforeFork, METH_NOARGS, nullptr};
  const py::capsule self(this);
  const auto hook = py::reinterpret_steal<py::object>(PyCFunction_New(&before, self.ptr()));
  if (!hook) throw py::error_already_set();
  py::module_::import("os").attr("register_at_fork")(py::arg("before") = hook);
}

pid_t GilSafeOnce::NoticeFork() {
  const pid_t process = getpid();
  if (process == process_) return process;
  // Of the threads counted, only the forking one lives on here.
  inside_at_fork_ += std::exchange(inside_, 0);
  return process_ = process;
}

void GilSafeOnce::RefuseSetUp() {
  if (this_thread_.inside) {
    throw std::runtime_error(std::string(what_) +
                             " is still being set up on this thread; call again once that is done");
  }
  RefuseInChildForkedDuringSetUp();
}

void GilSafeOnce::RefuseInChildForkedDuringSetUp() {
  const pid_t process = NoticeFork();
  // The forking thread may be one of those inside at the fork, and carries on.
  if (inside_at_fork_ > (this_thread_.inside && this_thread_.process != process ? 1 : 0)) {
    throw std::runtime_error(std::string(what_) +
                             " was being set up by another thread when the process forked");
  }
}

bool GilSafeOnce::WaitForTurnToInit() {
  // In a child forked midway, the thread running init may be gone for good.
  RefuseInChildForkedDuringSetUp();
  while (initialising_) SleepWithoutInterpreterLock();
  return !done_;
}

PyObject* GilSafeOnce::BeforeFork(PyObject* capsule, PyObject* /*no arguments*/) noexcept {
  auto& once = *static_cast<GilSafeOnce*>(PyCapsule_GetPointer(capsule, nullptr));
  // A thread that is inside itself forks at once: whoever else is inside may
  // be waiting for it. Those inside when this process was forked never finish.
  if (!once.done_ && !this_thread_.inside) {
    once.NoticeFork();
    const auto give_up_at = Clock::now() + kForkWaitLimit;
    while (once.inside_ > 0 && Clock::now() < give_up_at) SleepWithoutInterpreterLock();
  }
  Py_RETURN_NONE;
}

}  // namespace vadu::python
