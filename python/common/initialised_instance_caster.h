// Argument conversion for the classes and enumerations a module registers:
// only an initialised instance converts.
#pragma once

#include <pybind11/pybind11.h>

#include <type_traits>

namespace vadu::python {

template <typename T, typename... Types>
inline constexpr bool kIsAnyOf = (std::is_same_v<T, Types> || ...);

// The framework's own conversion takes None as a null pointer, which a member
// then calls through, and an instance made by Cls.__new__(Cls) without
// __init__, for which it hands out memory in which no value was ever built.
// Refusing both makes them mismatched arguments: the call raises TypeError.
template <typename T>
class InitialisedInstanceCaster : public pybind11::detail::type_caster_base<T> {
 public:
  bool load(pybind11::handle source, bool convert) {
    if (source.is_none() || IsUninitialisedInstance(source)) return false;
    return pybind11::detail::type_caster_base<T>::load(source, convert);
  }

 private:
  // The framework registers an instance once a value is in place, whether
  // built by __init__ or handed over from C++; until then it is not.
  bool IsUninitialisedInstance(pybind11::handle source) const {
    const pybind11::detail::type_info* type = this->typeinfo;
    if (type == nullptr || !PyObject_TypeCheck(source.ptr(), type->type)) return false;
    auto* instance = reinterpret_cast<pybind11::detail::instance*>(source.ptr());
    const pybind11::detail::value_and_holder value = instance->get_value_and_holder(type, false);
    return value.inst != nullptr && !value.instance_registered();
  }
};

}  // namespace vadu::python

// Gives the listed types the caster above. A source file that binds one of
// them must see this first, so each module lists its types once, in a header
// that all its binding files include.
#define VADU_PYTHON_INITIALISED_INSTANCES_ONLY(...)                              \
  namespace pybind11::detail {                                                   \
  template <typename T>                                                          \
  class type_caster<T, std::enable_if_t<vadu::python::kIsAnyOf<T, __VA_ARGS__>>> \
      : public vadu::python::InitialisedInstanceCaster<T> {};                    \
  }
