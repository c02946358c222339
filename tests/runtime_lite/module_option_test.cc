// Device managers, weight managers and the load and run options.
#include <gtest/gtest.h>

#include "vadu/runtime/dev_manager.h"
#include "vadu/runtime/module.h"

namespace vadu {
namespace {

TEST(DevManagerTest, CreateRecordsAndVerifyChecksDevices) {
  const DevManager empty;
  EXPECT_EQ(empty.GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(empty.DevCount(), 0);
  EXPECT_EQ(empty.Verify(), UNINITIALIZED);

  const DevManager one = DevManager::Create(1, "");
  EXPECT_EQ(one.GetInitStatus(), OK);
  EXPECT_EQ(one.DevCount(), 1);
  EXPECT_EQ(one.BackendName(), "sim");
  EXPECT_EQ(one.Verify(), OK);

  const DevManager two = DevManager::Create(std::vector<int32_t>{1, 0}, "sim");
  EXPECT_EQ(two.DevCount(), 2);
  EXPECT_EQ(two.DeviceIds(), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(two.Verify(), OK);

  EXPECT_EQ(DevManager::Create(std::vector<int32_t>{0, 2}, "sim").Verify(), INVALID_ARGUMENT);
  EXPECT_EQ(DevManager::Create(-1, "sim").Verify(), INVALID_ARGUMENT);
  EXPECT_EQ(DevManager::Create(0, "other").Verify(), UNSUPPORTED);

  for (const DevManager &bad : {DevManager::Create(std::vector<int32_t>{}, ""),
                                DevManager::Create(std::vector<int32_t>{0, 1, 0}, "")}) {
    EXPECT_EQ(bad.GetInitStatus(), INVALID_ARGUMENT);
    EXPECT_EQ(bad.DevCount(), 0);
    EXPECT_EQ(bad.Verify(), INVALID_ARGUMENT);
  }
}

TEST(WeightManagerTest, DefaultAndFactories) {
  const Module::WeightManager none;
  EXPECT_EQ(none.DeviceCount(), 1);
  EXPECT_EQ(none.Devices().GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(Module::WeightManager::CreateWeightManager(1).Devices().DeviceIds(), std::vector<int32_t>{1});
  const DevManager two = DevManager::Create(std::vector<int32_t>{0, 1}, "");
  EXPECT_EQ(Module::WeightManager::CreateWeightManager(two).DeviceCount(), 2);
}

TEST(OptionTest, ConstructorsChooseDevices) {
  EXPECT_EQ(Module::Option(1).DeviceIds(), std::vector<int32_t>{1});
  Module::WeightManager none;
  EXPECT_EQ(Module::Option(none).DeviceIds(), std::vector<int32_t>{0});
  Module::WeightManager pair = Module::WeightManager::CreateWeightManager(DevManager::Create({1, 0}, ""));
  EXPECT_EQ(Module::Option(pair).DeviceIds(), (std::vector<int32_t>{1, 0}));
  EXPECT_TRUE(Module::Option(DevManager()).DeviceIds().empty());
  EXPECT_EQ(Module::Option(DevManager::Create(0, "other")).BackendName(), "other");
}

TEST(OptionTest, SettersAreFluentAndCopiesShareSettings) {
  Module::Option option(0);
  Module::Option copy = option;
  std::vector<std::string> names = {"x"};
  Module::Option &same = option.SetDummyTensors(names)
                             .EnableProfile(7)
                             .EnableIOLazyMode(true)
                             .EnableHostLazyLoading(true)
                             .SetModelOffset(16, 32);
  EXPECT_EQ(&same, &option);
  EXPECT_EQ(copy.DummyTensors(), names);
  EXPECT_EQ(copy.ProfileLevel(), 7u);
  EXPECT_TRUE(copy.IOLazyMode());
  EXPECT_TRUE(copy.HostLazyLoading());
  EXPECT_EQ(copy.ModelOffset(), 16u);
  EXPECT_EQ(copy.ModelSize(), 32u);

  Module::RunOption run;
  EXPECT_EQ(run.GetRounds(), 1);
  EXPECT_EQ(run.GetCoreMask(), 0);
  const Module::RunOption shared = run;
  EXPECT_EQ(&run.Rounds(5).CoreMask(-3), &run);
  EXPECT_EQ(shared.GetRounds(), 5);
  EXPECT_EQ(shared.GetCoreMask(), -3);
}

}  // namespace
}  // namespace vadu
