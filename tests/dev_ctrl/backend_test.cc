// What the Python tests cannot see: out values left alone, and callbacks that
// change the registrations while a reset runs them.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "vadu/dev_ctrl/hal_device_factory.h"

namespace vadu::dev_ctrl {
namespace {

// Calls every getter with marked out values; expects `status` and no writes.
void ExpectGettersFail(HalDevice& device, int32_t id, Status status) {
  DvfsMode mode = DvfsMode::ON_DEMAND;
  uint64_t frequency = 7;
  MemInfo info{1, 2, 3};
  float rate = 9.0f;
  EXPECT_EQ(device.GetDvfsMode(id, mode), status);
  EXPECT_EQ(device.GetIpuFrequency(id, frequency), status);
  EXPECT_EQ(device.GetMemInfo(id, info), status);
  EXPECT_EQ(device.GetIpuUtilRate(id, rate), status);
  EXPECT_EQ(device.SetDvfsMode(id, DvfsMode::ON_DEMAND), status);
  EXPECT_EQ(device.IpuReset(id), status);
  EXPECT_EQ(mode, DvfsMode::ON_DEMAND);
  EXPECT_EQ(frequency, 7u);
  EXPECT_EQ(info.mem_total + info.mem_used + info.mem_avail, 6u);
  EXPECT_EQ(rate, 9.0f);
}

TEST(Backends, FailuresLeaveOutValuesAlone) {
  auto sim = HalDeviceFactory::Create("sim");
  for (int32_t id : {-1, 2, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
    ExpectGettersFail(*sim, id, INVALID_ARGUMENT);
  }
  ExpectGettersFail(*HalDeviceFactory::Create("null"), 0, UNSUPPORTED);
}

TEST(Backends, CallbacksMayChangeRegistrationsDuringReset) {
  auto device = HalDeviceFactory::Create("sim");
  std::vector<std::string> log;
  CallbackHandle self = 0;
  self = device->RegisterPreResetCallback(0, [&](int id) {
    log.push_back("once");
    device->UnregisterResetCallback(self);
    for (int i = 0; i < 100; ++i) {
      device->RegisterPreResetCallback(id, [&](int later) { log.push_back(std::to_string(later)); });
    }
  });
  ASSERT_EQ(device->IpuReset(0), OK);
  EXPECT_EQ(log, std::vector<std::string>{"once"});

  log.clear();
  ASSERT_EQ(device->IpuReset(0), OK);
  EXPECT_EQ(log, std::vector<std::string>(100, "0"));
}

}  // namespace
}  // namespace vadu::dev_ctrl
