#include "gil_safe_once.h"

#include <stdexcept>
#include <string>

namespace vadu::python {

void GilSafeOnce::RefuseCallFromInit() const {
  if (InitRunsOnThisThread()) {
    throw std::runtime_error(std::string(what_) +
                             " is still being set up on this thread; call again once that is done");
  }
}

void GilSafeOnce::HoldAcrossForks() {
  if (fork_hooks_registered_) return;
  // Set first: a second pair of hooks would wait for the mutex the first holds.
  fork_hooks_registered_ = true;
  try {
    // The interpreter runs these around every fork it makes (os.fork and what
    // is built on it), the hooks before a fork in the forking thread. In the
    // child that thread is the only one, and it holds the mutex.
    py::module_::import("os").attr("register_at_fork")(
        py::arg("before") = py::cpp_function([this] { TakeForFork(); }),
        py::arg("after_in_parent") = py::cpp_function([this] { ReleaseAfterFork(); }),
        py::arg("after_in_child") = py::cpp_function([this] { ReleaseAfterFork(); }));
  } catch (...) {
    fork_hooks_registered_ = false;
    throw;
  }
}

void GilSafeOnce::TakeForFork() {
  // The thread inside init already holds the mutex, and would wait for itself.
  if (InitRunsOnThisThread()) return;
  {
    py::gil_scoped_release unlocked;  // a thread inside init needs it to finish
    mutex_.lock();
  }
  held_for_fork_by_ = std::this_thread::get_id();
}

void GilSafeOnce::ReleaseAfterFork() {
  // In the child the forking thread keeps its identity.
  if (held_for_fork_by_ != std::this_thread::get_id()) return;
  held_for_fork_by_.reset();
  mutex_.unlock();
}

}  // namespace vadu::python
