// What the verifier set-up accepts and refuses: identifiers, sizes, depth,
// undefined union members and buffers above the 32-bit size limit.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "model_factory.h"
#include "model_verifier.h"

namespace vt = vadu::testing;
namespace vb = vadu::binary;

namespace {

bool VerifiesAsModel(const vt::Bytes &b) { return vb::VerifyModelBuffer(b.data(), b.size()); }
bool VerifiesAsModels(const vt::Bytes &b) { return vb::VerifyModelsBuffer(b.data(), b.size()); }

vt::Bytes EmptyModel() {
  flatbuffers::FlatBufferBuilder64 fbb(1024);
  vb::ModelBuilder model(fbb);
  vb::FinishModelBuffer(fbb, model.Finish());
  return vt::Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

vt::TensorSpec NestedTensor(int depth) {
  vt::TensorSpec t;
  t.name = "t" + std::to_string(depth);
  if (depth > 1) t.sub_tensors.push_back(NestedTensor(depth - 1));
  return t;
}

}  // namespace

TEST(ModelVerification, IdentifierAndLengthDecide) {
  const vt::Bytes empty = EmptyModel();
  EXPECT_TRUE(VerifiesAsModel(empty));
  EXPECT_FALSE(VerifiesAsModels(empty)) << "a QDM0 buffer is no container";
  EXPECT_TRUE(vb::VerifyModelRoot(empty.data(), empty.size()));

  vt::Bytes renamed = empty;
  std::memcpy(renamed.data() + 4, "QDMS", 4);
  EXPECT_FALSE(VerifiesAsModel(renamed));
  EXPECT_TRUE(vb::VerifyModelRoot(renamed.data(), renamed.size())) << "the root check ignores the identifier";

  vt::Bytes eleven(empty.begin(), empty.begin() + 11);
  EXPECT_FALSE(VerifiesAsModel(eleven));
  EXPECT_FALSE(vb::VerifyModelRoot(eleven.data(), eleven.size()));
  EXPECT_FALSE(vb::VerifyModelBuffer(nullptr, 0));
}

TEST(ModelVerification, RootOffsetMustPointInside) {
  vt::Bytes model = EmptyModel();
  const uint32_t past_end = static_cast<uint32_t>(model.size());
  std::memcpy(model.data(), &past_end, 4);
  EXPECT_FALSE(VerifiesAsModel(model));
  const uint32_t zero = 0;
  std::memcpy(model.data(), &zero, 4);
  EXPECT_FALSE(VerifiesAsModel(model));
}

TEST(ModelVerification, FactoryModelsVerify) {
  vt::ModelSpec spec = vt::SimpleModel("m", {vt::Weight("w0", 1, 100, 1), vt::Weight("w1", 2, 33, 5, 3)});
  EXPECT_TRUE(VerifiesAsModel(vt::BuildModel(spec)));
  vt::ContainerSpec container;
  container.models.push_back({vt::BuildModel(spec), "sub", 9, 0, {}, {}});
  EXPECT_TRUE(VerifiesAsModels(vt::BuildContainer(container)));
}

TEST(ModelVerification, DepthAboveSixtyFourIsRefused) {
  // The root is depth 1, so 63 nested tensors reach 64 and one more exceeds it.
  vt::ModelSpec deep_enough;
  deep_enough.config.reset();
  deep_enough.has_version = false;
  deep_enough.inputs.push_back(NestedTensor(63));
  EXPECT_TRUE(VerifiesAsModel(vt::BuildModel(deep_enough)));

  vt::ModelSpec too_deep = deep_enough;
  too_deep.inputs[0] = NestedTensor(64);
  EXPECT_FALSE(VerifiesAsModel(vt::BuildModel(too_deep)));
}

TEST(ModelVerification, UndefinedUnionMembersAreAccepted) {
  vt::ModelSpec spec;
  vt::AttrSpec odd;
  odd.name = "odd";
  odd.kind = vt::AttrSpec::Kind::kUndefined;
  odd.text = "whatever";
  spec.attrs.push_back(odd);
  EXPECT_TRUE(VerifiesAsModel(vt::BuildModel(spec)));

  vt::ContainerSpec container;
  vt::OperationSpec op;
  op.op_type = 3;
  op.spec_type = 9;
  container.operations.push_back(op);
  container.models.push_back({vt::BuildModel(spec), "m", 0, 0, {}, {}});
  EXPECT_TRUE(VerifiesAsModels(vt::BuildContainer(container)));
}

TEST(ContainerVerification, SubModelBytesAreNotLookedAt) {
  vt::ContainerSpec container;
  container.models.push_back({vt::Bytes(100, 0xAB), "junk", 0, 0, {}, {}});
  const vt::Bytes bytes = vt::BuildContainer(container);
  EXPECT_TRUE(VerifiesAsModels(bytes));
  EXPECT_FALSE(VerifiesAsModel(bytes));
  const auto *models = vb::GetModels(bytes.data());
  const auto *sub = models->model_data()->data() + models->model_headers()->Get(0)->offset();
  EXPECT_FALSE(vb::VerifyModelBuffer(sub, 100));
}

// A model whose raw_data is above 2 GiB: built small, then its 64-bit length is
// raised and the file extended sparsely, so the test needs no 2 GiB of memory.
TEST(ModelVerification, ModelAboveTwoGibVerifies) {
  vt::ModelSpec spec;
  vt::BinarySpec blob;
  blob.type = vb::BinaryType_RAW_OFFSET;
  blob.items.push_back(vt::Weight("w", 1, 64, 3, 8));
  spec.weights.push_back(blob);
  vt::Bytes bytes = vt::BuildModel(spec);
  const auto *raw = vb::GetModel(bytes.data())->raw_data();
  ASSERT_NE(raw, nullptr);
  const size_t data_start = raw->data() - bytes.data();
  ASSERT_EQ(data_start + raw->size(), bytes.size()) << "raw_data sits at the end of the buffer";

  const uint64_t big = (uint64_t{1} << 31) + 4096;
  std::memcpy(bytes.data() + data_start - 8, &big, 8);
  const auto path = std::filesystem::temp_directory_path() / ("big_model_" + std::to_string(getpid()) + ".qdm");
  vt::WriteFile(path, bytes);
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(data_start + big)), 0);

  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const size_t size = data_start + big;
  void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  std::filesystem::remove(path);
  ASSERT_NE(map, MAP_FAILED);
  const auto *data = static_cast<const uint8_t *>(map);
  EXPECT_TRUE(vb::VerifyModelBuffer(data, size));
  EXPECT_EQ(vb::GetModel(data)->raw_data()->size(), big);
  EXPECT_FALSE(vb::VerifyModelBuffer(data, size - 1)) << "the raw bytes must all be in bounds";
  munmap(map, size);
}
