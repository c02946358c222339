// Lets the device-control library call a Python object as a reset callback.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

#include "vadu/dev_ctrl/hal_device.h"

namespace vadu::pychipctl {

// Holds one strong reference to any Python object; whether it is callable
// shows only when the library calls it. Copies and destruction change the
// reference count without taking the interpreter lock, so the library must
// copy and drop callbacks only on threads that hold it.
class PythonResetCallback {
 public:
  explicit PythonResetCallback(pybind11::object target) : target_(std::move(target)) {}

  // Calls the object with the device id under the interpreter lock (taken
  // re-entrantly on a thread that already holds it). A Python exception is
  // thrown on as pybind11::error_already_set, which pybind11 restores for the
  // Python caller once it leaves the library.
  void operator()(int device_id) const;

 private:
  pybind11::object target_;
};

dev_ctrl::ResetCallback MakeResetCallback(pybind11::object target);

}  // namespace vadu::pychipctl
