#include <gtest/gtest.h>

#include <limits>

#include "vadu/dev_ctrl/hal_device_factory.h"

namespace vadu::dev_ctrl {
namespace {

class SimBackend : public ::testing::Test {
 protected:
  std::shared_ptr<HalDevice> device_ = HalDeviceFactory::Create("sim");
};

TEST_F(SimBackend, ModeIsPerDeviceAndStartsAtPerformance) {
  ASSERT_EQ(device_->GetDeviceCount(), 2);
  ASSERT_EQ(device_->SetDvfsMode(1, DvfsMode::ON_DEMAND), OK);
  DvfsMode mode = DvfsMode::ON_DEMAND;
  ASSERT_EQ(device_->GetDvfsMode(0, mode), OK);
  EXPECT_EQ(mode, DvfsMode::PERFORMANCE);
  ASSERT_EQ(device_->GetDvfsMode(1, mode), OK);
  EXPECT_EQ(mode, DvfsMode::ON_DEMAND);
}

TEST_F(SimBackend, TelemetryFollowsMode) {
  uint64_t fast = 0;
  float busy_fast = -1;
  ASSERT_EQ(device_->GetIpuFrequency(0, fast), OK);
  ASSERT_EQ(device_->GetIpuUtilRate(0, busy_fast), OK);

  ASSERT_EQ(device_->SetDvfsMode(0, DvfsMode::ON_DEMAND), OK);
  uint64_t slow = 0;
  float busy_slow = -1;
  ASSERT_EQ(device_->GetIpuFrequency(0, slow), OK);
  ASSERT_EQ(device_->GetIpuUtilRate(0, busy_slow), OK);

  // The same load at a lower clock keeps the cores busier.
  EXPECT_GT(slow, 0u);
  EXPECT_LT(slow, fast);
  EXPECT_GT(busy_slow, busy_fast);
  EXPECT_GT(busy_fast, 0.0f);
  EXPECT_LE(busy_slow, 100.0f);
}

TEST_F(SimBackend, MemoryAddsUp) {
  MemInfo info;
  ASSERT_EQ(device_->GetMemInfo(1, info), OK);
  EXPECT_GT(info.mem_total, 0u);
  EXPECT_LE(info.mem_used, info.mem_total);
  EXPECT_EQ(info.mem_used + info.mem_avail, info.mem_total);
}

TEST_F(SimBackend, UnknownDeviceIsInvalidAndOutValuesStayAlone) {
  for (int32_t id : {-1, 2, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
    DvfsMode mode = DvfsMode::ON_DEMAND;
    uint64_t frequency = 7;
    MemInfo info{1, 2, 3};
    float rate = 9.0f;
    EXPECT_EQ(device_->GetDvfsMode(id, mode), INVALID_ARGUMENT);
    EXPECT_EQ(device_->SetDvfsMode(id, DvfsMode::PERFORMANCE), INVALID_ARGUMENT);
    EXPECT_EQ(device_->GetIpuFrequency(id, frequency), INVALID_ARGUMENT);
    EXPECT_EQ(device_->GetMemInfo(id, info), INVALID_ARGUMENT);
    EXPECT_EQ(device_->GetIpuUtilRate(id, rate), INVALID_ARGUMENT);
    EXPECT_EQ(device_->IpuReset(id), INVALID_ARGUMENT);
    EXPECT_EQ(mode, DvfsMode::ON_DEMAND);
    EXPECT_EQ(frequency, 7u);
    EXPECT_EQ(info.mem_total, 1u);
    EXPECT_EQ(rate, 9.0f);
  }
}

TEST_F(SimBackend, ModeOutsideTheEnumerationIsRefused) {
  EXPECT_EQ(device_->SetDvfsMode(0, static_cast<DvfsMode>(7)), INVALID_ARGUMENT);
  DvfsMode mode = DvfsMode::ON_DEMAND;
  ASSERT_EQ(device_->GetDvfsMode(0, mode), OK);
  EXPECT_EQ(mode, DvfsMode::PERFORMANCE);
}

}  // namespace
}  // namespace vadu::dev_ctrl
