#include "hal_device_binding.h"

#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>

#include "docstrings.h"
#include "registered_types.h"
#include "reset_callback_bridge.h"
#include "vadu/dev_ctrl/hal_device_factory.h"

namespace py = pybind11;

namespace vadu::pychipctl {

using dev_ctrl::CallbackHandle;
using dev_ctrl::DvfsMode;
using dev_ctrl::HalDevice;
using dev_ctrl::HalDeviceFactory;
using dev_ctrl::MemInfo;

namespace {

// The getters hand back their out value as the library left it, whatever the
// status, so each starts from a fixed value.
std::tuple<Status, DvfsMode> GetDvfsMode(HalDevice& device, int32_t device_id) {
  DvfsMode mode = DvfsMode::PERFORMANCE;
  const Status status = device.GetDvfsMode(device_id, mode);
  return {status, mode};
}

std::tuple<Status, uint64_t> GetIpuFrequency(HalDevice& device, int32_t device_id) {
  uint64_t frequency_hz = 0;
  const Status status = device.GetIpuFrequency(device_id, frequency_hz);
  return {status, frequency_hz};
}

std::tuple<Status, MemInfo> GetMemInfo(HalDevice& device, int32_t device_id) {
  MemInfo info{};
  const Status status = device.GetMemInfo(device_id, info);
  return {status, info};
}

std::tuple<Status, float> GetIpuUtilRate(HalDevice& device, int32_t device_id) {
  float util_rate = 0.0f;
  const Status status = device.GetIpuUtilRate(device_id, util_rate);
  return {status, util_rate};
}

CallbackHandle RegisterPreReset(HalDevice& device, int32_t device_id, py::object callback) {
  return device.RegisterPreResetCallback(device_id, MakeResetCallback(std::move(callback)));
}

CallbackHandle RegisterPostReset(HalDevice& device, int32_t device_id, py::object callback) {
  return device.RegisterPostResetCallback(device_id, MakeResetCallback(std::move(callback)));
}

}  // namespace

void BindHalDevice(py::module_& m) {
  py::class_<HalDevice, std::shared_ptr<HalDevice>>(m, "HalDevice", doc::kHalDevice)
      .def("get_device_count", &HalDevice::GetDeviceCount, doc::kGetDeviceCount)
      .def("ipu_reset", &HalDevice::IpuReset, py::arg("device_id"), doc::kIpuReset)
      .def("register_pre_reset_callback", &RegisterPreReset, py::arg("device_id"),
           py::arg("callback"), doc::kRegisterPreResetCallback)
      .def("register_post_reset_callback", &RegisterPostReset, py::arg("device_id"),
           py::arg("callback"), doc::kRegisterPostResetCallback)
      .def("unregister_reset_callback", &HalDevice::UnregisterResetCallback, py::arg("handle"),
           doc::kUnregisterResetCallback)
      .def("get_dvfs_mode", &GetDvfsMode, py::arg("device_id"), doc::kGetDvfsMode)
      .def("set_dvfs_mode", &HalDevice::SetDvfsMode, py::arg("device_id"), py::arg("mode"),
           doc::kSetDvfsMode)
      .def("get_ipu_frequency", &GetIpuFrequency, py::arg("device_id"), doc::kGetIpuFrequency)
      .def("get_mem_info", &GetMemInfo, py::arg("device_id"), doc::kGetMemInfo)
      .def("get_ipu_util_rate", &GetIpuUtilRate, py::arg("device_id"), doc::kGetIpuUtilRate)
      .def_property_readonly("backend_name", &HalDevice::GetBackendName, doc::kBackendName);
}

void BindHalDeviceFactory(py::module_& m) {
  py::class_<HalDeviceFactory>(m, "HalDeviceFactory", doc::kHalDeviceFactory)
      .def_static(
          "create",
          [](const std::string& backend_name) { return HalDeviceFactory::Create(backend_name); },
          py::arg("backend_name") = "", doc::kCreate)
      .def_static("get_supported_backends", &HalDeviceFactory::GetSupportedBackends,
                  doc::kGetSupportedBackends);
}

}  // namespace vadu::pychipctl
