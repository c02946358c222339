// The container's model_data built in one block: sub-models built past the
// blob's end and moved to their start, the container builder working in the
// same memory. Whatever happens to the memory (builders that outgrow their
// reserve, a block that has to grow or move, a container that outgrows its
// headroom), the bytes must be those of buffers built and copied the plain way.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_failure.h"
#include "builder_space.h"
#include "container_blob.h"
#include "lowered_allocation_limit.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace fb = ::flatbuffers;
using Bytes = std::vector<uint8_t>;
using testing::RefusalOf;

struct Part {
  uint64_t length = 0;  // of its byte vector
  uint32_t align = 0;   // of its place in the blob
};

// A small finished buffer whose bytes depend on `seed` and `length`, built
// with no reserve, so that a large one makes its builder grow several times.
void BuildPart(ToolBuilder &b, uint64_t length, uint8_t seed) {
  Bytes bytes(length);
  for (uint64_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
  const auto vector = b.CreateVector(bytes);
  const auto name = b.CreateString("part" + std::to_string(seed));
  const auto start = b.StartTable();
  b.AddOffset(4, vector);
  b.AddOffset(6, name);
  b.Finish(fb::Offset<void>(b.EndTable(start)));
}

Bytes Standalone(uint64_t length, uint8_t seed) {
  ToolBuilder b = MakeToolBuilder();
  BuildPart(b, length, seed);
  return Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

// The container the plain way: each part in a buffer of its own, copied
// into a zero-filled model_data at the next multiple of its alignment.
Bytes PlainContainer(const std::vector<Part> &parts) {
  Bytes blob;
  for (size_t i = 0; i < parts.size(); ++i) {
    const Bytes part = Standalone(parts[i].length, static_cast<uint8_t>(i + 1));
    blob.resize(AlignedPosition(blob.size(), parts[i].align), 0);
    blob.insert(blob.end(), part.begin(), part.end());
  }
  ToolBuilder b = MakeToolBuilder();
  const auto data = b.CreateVector64(blob);
  const auto tail = b.CreateString("container");
  const auto start = b.StartTable();
  b.AddOffset(4, data);
  b.AddOffset(6, tail);
  b.Finish(fb::Offset<void>(b.EndTable(start)));
  return Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

Bytes InPlaceContainer(const std::vector<Part> &parts, uint64_t headroom, uint64_t tail_length) {
  ContainerBlob blob(headroom);
  for (size_t i = 0; i < parts.size(); ++i) {
    const uint64_t start = blob.NextStart(parts[i].align);
    ToolBuilder b = blob.SubModelBuilder(start);
    BuildPart(b, parts[i].length, static_cast<uint8_t>(i + 1));
    blob.Place(b, start);
  }
  ToolBuilder b = blob.ContainerBuilder();
  const auto data = blob.CreateIn(b);
  const auto tail = b.CreateString(tail_length == 0 ? std::string("container") : std::string(tail_length, 'x'));
  const auto start = b.StartTable();
  b.AddOffset(4, data);
  b.AddOffset(6, tail);
  b.Finish(fb::Offset<void>(b.EndTable(start)));
  return Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

TEST(ContainerBlobTest, SubModelsBuiltInPlaceGiveThePlainContainer) {
  // Alignments 0 (64), odd and large; sizes that need no growth and ones that
  // make the sub-model builder grow, and a start far past the block's end.
  const std::vector<Part> parts = {{10, 0}, {300000, 3}, {1, 16}, {70000, 1 << 20}, {5, 7}, {4096, 0}};
  EXPECT_EQ(InPlaceContainer(parts, 1 << 16, 0), PlainContainer(parts));
  // One part, and none at all.
  EXPECT_EQ(InPlaceContainer({{100, 8}}, 1 << 16, 0), PlainContainer({{100, 8}}));
  EXPECT_EQ(InPlaceContainer({}, 1 << 16, 0), PlainContainer({}));
}

TEST(ContainerBlobTest, AContainerThatOutgrowsItsHeadroomIsCopiedOnce) {
  const std::vector<Part> parts = {{1000, 0}, {20, 3}};
  // No headroom at all: the container's own tables do not fit below the blob.
  const Bytes expected = PlainContainer(parts);
  EXPECT_EQ(InPlaceContainer(parts, 0, 0), expected);
  // A tail larger than the headroom.
  const Bytes big_tail = InPlaceContainer(parts, 4096, 100000);
  EXPECT_EQ(InPlaceContainer(parts, 1 << 20, 100000), big_tail);
}

// The gap before a sub-model is zero even where an earlier builder left its bytes.
TEST(ContainerBlobTest, GapsAreZeroWhereEarlierBuildersWrote) {
  ContainerBlob blob(4096);
  ToolBuilder first = blob.SubModelBuilder(0);
  // Built at the top of a 32 KiB reserve, so its bytes first lie inside what
  // becomes the gap before the second sub-model.
  ReserveBuilderSpace(first, 32 << 10);
  BuildPart(first, 100, 1);
  blob.Place(first, 0);
  const uint64_t first_end = blob.size();
  const uint64_t start = blob.NextStart(1 << 16);
  ToolBuilder second = blob.SubModelBuilder(start);
  BuildPart(second, 10, 2);
  blob.Place(second, start);

  ToolBuilder b = blob.ContainerBuilder();
  const auto data = blob.CreateIn(b);
  const auto table = b.StartTable();
  b.AddOffset(4, data);
  b.Finish(fb::Offset<void>(b.EndTable(table)));
  const auto *model_data = fb::GetRoot<fb::Table>(b.GetBufferPointer())->GetPointer64<const fb::Vector64<uint8_t> *>(4);
  ASSERT_EQ(model_data->size(), blob.size());
  for (uint64_t i = first_end; i < start; ++i) ASSERT_EQ(model_data->Get(i), 0) << "byte " << i;
  const Bytes second_bytes = Standalone(10, 2);
  EXPECT_EQ(Bytes(model_data->data() + start, model_data->data() + start + second_bytes.size()), second_bytes);
}

// A sub-model that large alignments would start beyond what can be had is
// refused before any memory is laid out for it, and so is one whose room
// fits on its own but not after the blob before it.
TEST(ContainerBlobTest, AStartOrRoomBeyondTheLimitIsRefused) {
  const testing::LoweredAllocationLimit limit(8 << 20);
  ContainerBlob blob(4096);
  EXPECT_EQ(RefusalOf([&] { blob.SubModelBuilder(blob.NextStart(0xFFFFFFFF) + 0xFFFFFFFF); }),
            "Out of memory: cannot allocate 4294967295 bytes for the new container");
  ToolBuilder b = blob.SubModelBuilder(5 << 20);
  EXPECT_EQ(RefusalOf([&] { ReserveBuilderSpace(b, 5 << 20); }),
            "Out of memory: cannot allocate 10485760 bytes for the new container");
}

}  // namespace
}  // namespace vadu::qdmstrip
