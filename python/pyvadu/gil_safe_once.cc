#include "gil_safe_once.h"

namespace vadu::python {

void GilSafeOnce::HoldAcrossForks() {
  if (fork_hooks_registered_) return;
  // Set first: a second pair of hooks would wait for the mutex the first holds.
  fork_hooks_registered_ = true;
  try {
    // The interpreter runs these around every fork it makes (os.fork and what
    // is built on it), the hooks before a fork in the forking thread. In the
    // child that thread is the only one, and it holds the mutex.
    py::module_::import("os").attr("register_at_fork")(
        py::arg("before") = py::cpp_function([this] {
          py::gil_scoped_release unlocked;  // a thread inside init needs it to finish
          mutex_.lock();
        }),
        py::arg("after_in_parent") = py::cpp_function([this] { mutex_.unlock(); }),
        py::arg("after_in_child") = py::cpp_function([this] { mutex_.unlock(); }));
  } catch (...) {
    fork_hooks_registered_ = false;
    throw;
  }
}

}  // namespace vadu::python
