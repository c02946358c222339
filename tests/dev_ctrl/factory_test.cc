#include "vadu/dev_ctrl/hal_device_factory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vadu::dev_ctrl {
namespace {

// Sets (or, for null, clears) a variable; every test clears both on exit.
class Environment : public ::testing::Test {
 protected:
  void TearDown() override {
    ::unsetenv(kBackendEnvVar);
    ::unsetenv(kSimDeviceCountEnvVar);
  }
  static void Set(const char* name, const char* value) {
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
};

TEST_F(Environment, EmptyNameFollowsBackendVariableThenBuildDefault) {
  const struct {
    const char* variable;
    const char* expected;  // null: no device
  } cases[] = {{"null", "null"}, {"", "sim"}, {nullptr, "sim"}, {"sim ", nullptr}};
  for (const auto& c : cases) {
    Set(kBackendEnvVar, c.variable);
    auto device = HalDeviceFactory::Create("");
    ASSERT_EQ(device != nullptr, c.expected != nullptr) << (c.variable ? c.variable : "(unset)");
    if (device) {
      EXPECT_EQ(device->GetBackendName(), c.expected);
    }
  }
  // A name given explicitly wins over the variable.
  Set(kBackendEnvVar, "null");
  EXPECT_EQ(HalDeviceFactory::Create("sim")->GetBackendName(), "sim");
}

TEST_F(Environment, SimDeviceCountFallsBackToTwoUnlessValid) {
  const struct {
    const char* value;
    int32_t expected;
  } cases[] = {
      {nullptr, 2}, {"0", 0}, {"5", 5},   {"64", 64}, {"65", 2},
      {"-1", 2},    {"", 2},  {"3x", 2},  {" 3", 2},  {"99999999999999999999", 2},
  };
  for (const auto& c : cases) {
    Set(kSimDeviceCountEnvVar, c.value);
    EXPECT_EQ(HalDeviceFactory::Create("sim")->GetDeviceCount(), c.expected)
        << (c.value ? c.value : "(unset)");
  }
}

}  // namespace
}  // namespace vadu::dev_ctrl
