// None as self, refused by every method of a module's classes.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace vadu::python {

namespace self_argument_record_detail {

namespace py = pybind11;

// The framework's record of a function it made, or null for anything else.
inline py::detail::function_record* FunctionRecord(py::handle attribute) {
  const py::handle function = py::detail::get_function(attribute);
  if (!function || !PyCFunction_Check(function.ptr())) return nullptr;
  const py::handle self = PyCFunction_GET_SELF(function.ptr());
  if (!self || !py::isinstance<py::capsule>(self)) return nullptr;
  const auto capsule = py::reinterpret_borrow<py::capsule>(self);
  if (!py::detail::is_function_record_capsule(capsule)) return nullptr;
  return capsule.get_pointer<py::detail::function_record>();
}

// The framework refuses None for self through the record it keeps for self,
// and makes that record only for methods registered with argument names.
// Other methods get one here, made as the framework makes its own but without
// a name, so self stays positional only. Signatures and docstrings were
// written at registration and do not change.
inline void AddSelfRecords(py::handle attribute) {
  for (auto* record = FunctionRecord(attribute); record != nullptr; record = record->next) {
    if (record->is_method && record->args.empty()) {
      record->args.emplace_back(nullptr, nullptr, py::handle(), /*convert=*/true, /*none=*/false);
    }
  }
}

inline void AddSelfRecordsToClass(PyTypeObject* cls) {
  for (const auto item : py::reinterpret_borrow<py::dict>(cls->tp_dict)) {
    const py::handle member = item.second;
    if (py::isinstance(member, py::handle(reinterpret_cast<PyObject*>(&PyProperty_Type)))) {
      AddSelfRecords(member.attr("fget"));
      AddSelfRecords(member.attr("fset"));
    } else {
      AddSelfRecords(member);
    }
  }
}

}  // namespace self_argument_record_detail

// Makes None as self a mismatched argument (TypeError) for every method and
// property of the classes registered in m and its submodules. Call it once
// every class is registered.
inline void RefuseNoneAsSelf(pybind11::module_& m) {
  namespace py = pybind11;
  const std::string prefix = m.attr("__name__").cast<std::string>() + ".";
  for (const auto item : py::reinterpret_borrow<py::dict>(m.attr("__dict__"))) {
    const py::handle value = item.second;
    if (py::isinstance<py::module_>(value)) {
      const auto name = value.attr("__name__").cast<std::string>();
      if (name.rfind(prefix, 0) == 0) {
        auto submodule = py::reinterpret_borrow<py::module_>(value);
        RefuseNoneAsSelf(submodule);
      }
    } else if (PyType_Check(value.ptr())) {
      auto* cls = reinterpret_cast<PyTypeObject*>(value.ptr());
      if (py::detail::get_type_info(cls) != nullptr) {
        self_argument_record_detail::AddSelfRecordsToClass(cls);
      }
    }
  }
}

}  // namespace vadu::python
