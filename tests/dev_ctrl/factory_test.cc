#include "vadu/dev_ctrl/hal_device_factory.h"

#include <gtest/gtest.h>

#include "scoped_env.h"

namespace vadu::dev_ctrl {
namespace {

using vadu::testing::ScopedEnv;

TEST(HalDeviceFactory, CreatesEachSupportedBackendByName) {
  const std::vector<std::string> backends = HalDeviceFactory::GetSupportedBackends();
  ASSERT_EQ(backends, (std::vector<std::string>{"sim", "null"}));
  for (const std::string& name : backends) {
    auto device = HalDeviceFactory::Create(name);
    ASSERT_NE(device, nullptr) << name;
    EXPECT_EQ(device->GetBackendName(), name);
  }
}

TEST(HalDeviceFactory, UnknownNameGivesNoDevice) {
  EXPECT_EQ(HalDeviceFactory::Create("Sim"), nullptr);
  EXPECT_EQ(HalDeviceFactory::Create(std::string("sim\0x", 5)), nullptr);
}

TEST(HalDeviceFactory, EmptyNameFollowsBackendVariableThenBuildDefault) {
  {
    ScopedEnv env(kBackendEnvVar, "null");
    auto device = HalDeviceFactory::Create("");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetBackendName(), "null");
  }
  {
    ScopedEnv env(kBackendEnvVar, "");
    auto device = HalDeviceFactory::Create();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetBackendName(), "sim");
  }
  {
    ScopedEnv env(kBackendEnvVar, nullptr);
    ASSERT_NE(HalDeviceFactory::Create(), nullptr);
  }
  {
    ScopedEnv env(kBackendEnvVar, "nonexistent");
    EXPECT_EQ(HalDeviceFactory::Create(), nullptr);
  }
  // A name given explicitly wins over the variable.
  ScopedEnv env(kBackendEnvVar, "null");
  EXPECT_EQ(HalDeviceFactory::Create("sim")->GetBackendName(), "sim");
}

TEST(HalDeviceFactory, SimDeviceCountComesFromEnvironment) {
  const struct {
    const char* value;
    int32_t expected;
  } cases[] = {
      {nullptr, 2}, {"0", 0},  {"5", 5},  {"64", 64}, {"65", 2},
      {"-1", 2},    {"", 2},   {"3x", 2}, {" 3", 2},  {"99999999999999999999", 2},
  };
  for (const auto& c : cases) {
    ScopedEnv env(kSimDeviceCountEnvVar, c.value);
    EXPECT_EQ(HalDeviceFactory::Create("sim")->GetDeviceCount(), c.expected)
        << (c.value ? c.value : "(unset)");
  }
}

TEST(HalDeviceFactory, DevicesAreIndependentObjects) {
  auto first = HalDeviceFactory::Create("sim");
  auto second = HalDeviceFactory::Create("sim");
  ASSERT_EQ(first->SetDvfsMode(0, DvfsMode::ON_DEMAND), OK);
  DvfsMode mode = DvfsMode::ON_DEMAND;
  ASSERT_EQ(second->GetDvfsMode(0, mode), OK);
  EXPECT_EQ(mode, DvfsMode::PERFORMANCE);
}

}  // namespace
}  // namespace vadu::dev_ctrl
