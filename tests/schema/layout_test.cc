// The raw-data alignment rule as the model writers apply it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "example_models.h"
#include "model_verifier.h"

namespace vt = vadu::testing;
namespace vb = vadu::binary;

TEST(AlignmentRule, NextMultipleOfTheAlignment) {
  EXPECT_EQ(vt::AlignedStart(70, 0), 128u) << "alignment 0 stands for 64";
  EXPECT_EQ(vt::AlignedStart(70, 48), 96u) << "any positive alignment, not only powers of two";
  EXPECT_EQ(vt::AlignedStart(70, 3), 72u);
  EXPECT_EQ(vt::AlignedStart(0, 0), 0u);
  EXPECT_EQ(vt::AlignedStart(96, 48), 96u);
}

TEST(AlignmentRule, SubModelsArePlacedInHeaderOrder) {
  vt::ContainerSpec spec;
  spec.models.push_back({vt::Bytes(100, 1), "a", 0, 0, {}, {}});
  spec.models.push_back({vt::Bytes(50, 2), "b", 0, 16, {}, {}});
  spec.models.push_back({vt::Bytes(10, 3), "c", 0, 0, {}, {}});
  const vt::Bytes bytes = vt::BuildContainer(spec);
  ASSERT_TRUE(vb::VerifyModelsBuffer(bytes.data(), bytes.size()));
  const vb::Models *models = vb::GetModels(bytes.data());
  const auto *headers = models->model_headers();
  EXPECT_EQ(headers->Get(0)->offset(), 0u);
  EXPECT_EQ(headers->Get(1)->offset(), 112u);
  EXPECT_EQ(headers->Get(2)->offset(), 192u);
  const auto *data = models->model_data();
  ASSERT_EQ(data->size(), 202u);
  for (size_t i = 100; i < 112; ++i) EXPECT_EQ(data->Get(i), 0) << i;
  for (size_t i = 162; i < 192; ++i) EXPECT_EQ(data->Get(i), 0) << i;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data->data()) % 8, 0u) << "model_data starts 8-byte aligned";
}

TEST(AlignmentRule, RawWeightsFollowTheirHeaders) {
  const vt::Bytes bytes = vt::BuildModel(
      vt::SimpleModel("m", {vt::Weight("a", 1, 70, 1), vt::Weight("b", 2, 10, 2, 48), vt::Weight("c", 3, 5, 3)}));
  const vb::Model *model = vb::GetModel(bytes.data());
  const auto *headers = model->weights()->Get(0)->headers();
  EXPECT_EQ(headers->Get(0)->offset(), 0u);
  EXPECT_EQ(headers->Get(1)->offset(), 96u);
  EXPECT_EQ(headers->Get(2)->offset(), 128u);
  EXPECT_EQ(model->raw_data()->size(), 133u);
  EXPECT_EQ(model->raw_data()->Get(96), 2);
}

TEST(ExampleModels, EveryExampleVerifies) {
  const auto dir = std::filesystem::temp_directory_path() / ("examples_" + std::to_string(::getpid()));
  for (const auto &path : vt::WriteExampleModels(dir)) {
    const vt::Bytes bytes = vt::ReadFile(path);
    const bool container = path.extension() == ".qdms";
    EXPECT_TRUE(container ? vb::VerifyModelsBuffer(bytes.data(), bytes.size())
                          : vb::VerifyModelBuffer(bytes.data(), bytes.size()))
        << path;
  }
  std::filesystem::remove_all(dir);
}
