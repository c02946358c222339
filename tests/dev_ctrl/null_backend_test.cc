#include <gtest/gtest.h>

#include "vadu/dev_ctrl/hal_device_factory.h"

namespace vadu::dev_ctrl {
namespace {

TEST(NullBackend, ReportsUnsupportedAndLeavesOutValuesAlone) {
  auto device = HalDeviceFactory::Create("null");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->GetDeviceCount(), -1);
  EXPECT_EQ(device->IpuReset(0), UNSUPPORTED);
  EXPECT_EQ(device->SetDvfsMode(0, DvfsMode::ON_DEMAND), UNSUPPORTED);

  DvfsMode mode = DvfsMode::ON_DEMAND;
  uint64_t frequency = 123;
  MemInfo info{1, 2, 3};
  float rate = 4.5f;
  EXPECT_EQ(device->GetDvfsMode(0, mode), UNSUPPORTED);
  EXPECT_EQ(device->GetIpuFrequency(0, frequency), UNSUPPORTED);
  EXPECT_EQ(device->GetMemInfo(0, info), UNSUPPORTED);
  EXPECT_EQ(device->GetIpuUtilRate(0, rate), UNSUPPORTED);
  EXPECT_EQ(mode, DvfsMode::ON_DEMAND);
  EXPECT_EQ(frequency, 123u);
  EXPECT_EQ(info.mem_total, 1u);
  EXPECT_EQ(info.mem_used, 2u);
  EXPECT_EQ(info.mem_avail, 3u);
  EXPECT_EQ(rate, 4.5f);
}

TEST(NullBackend, NeverCallsCallbacks) {
  auto device = HalDeviceFactory::Create("null");
  int calls = 0;
  device->RegisterPreResetCallback(0, [&](int) { ++calls; });
  device->RegisterPostResetCallback(0, [&](int) { ++calls; });
  device->UnregisterResetCallback(7);
  EXPECT_EQ(device->IpuReset(0), UNSUPPORTED);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace vadu::dev_ctrl
