#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "vadu/dev_ctrl/hal_device_factory.h"

namespace vadu::dev_ctrl {
namespace {

class SimReset : public ::testing::Test {
 protected:
  ResetCallback Record(const std::string& tag) {
    return [this, tag](int id) { log_.push_back(tag + ":" + std::to_string(id)); };
  }
  DvfsMode ModeOf(int32_t id) {
    DvfsMode mode = DvfsMode::PERFORMANCE;
    EXPECT_EQ(device_->GetDvfsMode(id, mode), OK);
    return mode;
  }

  std::shared_ptr<HalDevice> device_ = HalDeviceFactory::Create("sim");
  std::vector<std::string> log_;
};

TEST_F(SimReset, RunsThatDevicesCallbacksInOrderAroundTheReset) {
  device_->RegisterPostResetCallback(1, Record("post-a"));
  device_->RegisterPreResetCallback(1, Record("pre-a"));
  device_->RegisterPreResetCallback(0, Record("other"));
  device_->RegisterPreResetCallback(1, Record("pre-b"));
  device_->RegisterPostResetCallback(1, Record("post-b"));
  // Each pre-reset callback still sees the mode before the reset.
  device_->RegisterPreResetCallback(1, [this](int id) {
    log_.push_back(ModeOf(id) == DvfsMode::ON_DEMAND ? "before" : "already-reset");
  });
  device_->RegisterPostResetCallback(1, [this](int id) {
    log_.push_back(ModeOf(id) == DvfsMode::PERFORMANCE ? "after" : "not-reset");
  });
  ASSERT_EQ(device_->SetDvfsMode(1, DvfsMode::ON_DEMAND), OK);

  ASSERT_EQ(device_->IpuReset(1), OK);
  EXPECT_EQ(log_, (std::vector<std::string>{"pre-a:1", "pre-b:1", "before", "post-a:1", "post-b:1",
                                            "after"}));
  EXPECT_EQ(ModeOf(1), DvfsMode::PERFORMANCE);
}

TEST_F(SimReset, HandlesIncreaseAndUnregisterRemovesOnlyThatCallback) {
  const CallbackHandle a = device_->RegisterPreResetCallback(0, Record("a"));
  const CallbackHandle b = device_->RegisterPostResetCallback(0, Record("b"));
  const CallbackHandle c = device_->RegisterPreResetCallback(1, Record("c"));
  EXPECT_GT(a, 0u);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);

  device_->UnregisterResetCallback(a);
  device_->UnregisterResetCallback(a);       // already gone
  device_->UnregisterResetCallback(c + 100);  // never handed out
  device_->UnregisterResetCallback(0);
  ASSERT_EQ(device_->IpuReset(0), OK);
  EXPECT_EQ(log_, (std::vector<std::string>{"b:0"}));
}

TEST_F(SimReset, CallbackForUnknownDeviceIsNotKept) {
  EXPECT_EQ(device_->RegisterPreResetCallback(5, Record("x")), 0u);
  EXPECT_EQ(device_->RegisterPostResetCallback(-1, Record("x")), 0u);
}

TEST_F(SimReset, ThrowingPreResetCallbackLeavesDeviceUntouched) {
  ASSERT_EQ(device_->SetDvfsMode(0, DvfsMode::ON_DEMAND), OK);
  device_->RegisterPreResetCallback(0, [](int) { throw std::runtime_error("busy"); });
  device_->RegisterPreResetCallback(0, Record("pre"));
  device_->RegisterPostResetCallback(0, Record("post"));

  EXPECT_THROW(device_->IpuReset(0), std::runtime_error);
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(ModeOf(0), DvfsMode::ON_DEMAND);
}

TEST_F(SimReset, ThrowingPostResetCallbackLeavesDeviceReset) {
  ASSERT_EQ(device_->SetDvfsMode(0, DvfsMode::ON_DEMAND), OK);
  device_->RegisterPostResetCallback(0, [](int) { throw std::runtime_error("reload failed"); });

  EXPECT_THROW(device_->IpuReset(0), std::runtime_error);
  EXPECT_EQ(ModeOf(0), DvfsMode::PERFORMANCE);
  // The device is usable again afterwards.
  EXPECT_EQ(device_->SetDvfsMode(0, DvfsMode::ON_DEMAND), OK);
}

TEST_F(SimReset, CallbacksMayChangeRegistrationsDuringTheReset) {
  CallbackHandle self = 0;
  self = device_->RegisterPreResetCallback(0, [&](int id) {
    log_.push_back("once");
    device_->UnregisterResetCallback(self);  // unregisters itself while it runs
    for (int i = 0; i < 100; ++i) device_->RegisterPreResetCallback(id, Record("later"));
  });
  ASSERT_EQ(device_->IpuReset(0), OK);
  EXPECT_EQ(log_, (std::vector<std::string>{"once"}));

  log_.clear();
  ASSERT_EQ(device_->IpuReset(0), OK);
  EXPECT_EQ(log_.size(), 100u);
  EXPECT_EQ(log_.front(), "later:0");
}

}  // namespace
}  // namespace vadu::dev_ctrl
