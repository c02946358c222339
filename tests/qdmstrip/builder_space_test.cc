// Byte vectors filled in place must give the very buffer that copying the
// same bytes in with CreateVector gives, whatever the builder's memory held.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_failure.h"
#include "builder_space.h"
#include "embedded_data.h"
#include "lowered_allocation_limit.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace fb = ::flatbuffers;
using Bytes = std::vector<uint8_t>;
using testing::LoweredAllocationLimit;
using testing::RefusalOf;

// Hands out memory full of a non-zero pattern, as reused heap memory may be.
class DirtyAllocator : public fb::Allocator {
 public:
  uint8_t *allocate(size_t size) override {
    auto *p = new uint8_t[size];
    std::memset(p, 0xA5, size);
    return p;
  }
  void deallocate(uint8_t *p, size_t) override { delete[] p; }
};

Bytes Finished(ToolBuilder &b) { return Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()); }

// A small table after the vector, so that the vector's padding and the
// alignment of what follows it are part of the comparison.
template <typename Vector>
Bytes FinishWith(ToolBuilder &b, Vector vector) {
  const auto name = b.CreateString("after");
  const auto start = b.StartTable();
  b.AddOffset(4, vector);
  b.AddOffset(6, name);
  b.Finish(fb::Offset<void>(b.EndTable(start)));
  return Finished(b);
}

Bytes Pattern(uint64_t length) {
  Bytes bytes(length);
  for (uint64_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

TEST(BuilderSpaceTest, UnfilledVectorsMatchCopiedOnesByteForByte) {
  for (uint64_t length : {0u, 1u, 7u, 8u, 9u, 100u}) {
    SCOPED_TRACE("length " + std::to_string(length));
    const Bytes bytes = Pattern(length);
    DirtyAllocator dirty;

    ToolBuilder copied(kBuilderInitialSize);
    const Bytes expected64 = FinishWith(copied, copied.CreateVector64(bytes));
    ToolBuilder in_place(kBuilderInitialSize, &dirty);
    const InPlaceBytes64 raw = CreateUnfilledVector64(in_place, length);
    ASSERT_EQ(raw.bytes.size(), length);
    GapZeroingWriter writer(raw.bytes);
    writer.Put(0, bytes);
    writer.Finish();
    EXPECT_EQ(FinishWith(in_place, raw.offset), expected64);

    ToolBuilder copied32(kBuilderInitialSize);
    const Bytes expected32 = FinishWith(copied32, copied32.CreateVector(bytes));
    ToolBuilder in_place32(kBuilderInitialSize, &dirty);
    const InPlaceBytes data = CreateUnfilledVector(in_place32, length);
    if (length != 0) std::memcpy(data.bytes.data(), bytes.data(), length);
    EXPECT_EQ(FinishWith(in_place32, data.offset), expected32);
  }
}

TEST(BuilderSpaceTest, GapZeroingWriterWritesEveryByteOnce) {
  Bytes target(16, 0xEE);
  GapZeroingWriter writer(target);
  const Bytes a = {1, 2, 3};
  const Bytes b = {4, 5};
  writer.Put(2, a);  // a gap before the first piece
  writer.Put(5, b);  // none between two pieces
  writer.Put(9, {});
  writer.Finish();   // and the tail
  EXPECT_EQ(target, (Bytes{0, 0, 1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// The data of an embedded Binary: each piece at the next multiple of its
// alignment (64 for 0, odd ones too), zero between, in a dirty builder.
TEST(BuilderSpaceTest, EmbeddedDataLaysPiecesOutByTheAlignmentRule) {
  const Bytes a = Pattern(5);
  const Bytes b = Pattern(70);
  const Bytes c = Pattern(3);
  EmbeddedData data;
  EXPECT_EQ(data.Append(a, 16), 0u);
  EXPECT_EQ(data.Append(b, 0), 64u);
  EXPECT_EQ(data.Append(c, 3), 135u);
  EXPECT_EQ(data.Append(a, 7), 140u);
  EXPECT_EQ(data.size(), 145u);

  Bytes layout(145, 0);
  std::memcpy(layout.data(), a.data(), a.size());
  std::memcpy(layout.data() + 64, b.data(), b.size());
  std::memcpy(layout.data() + 135, c.data(), c.size());
  std::memcpy(layout.data() + 140, a.data(), a.size());
  ToolBuilder copied(kBuilderInitialSize);
  const Bytes expected = FinishWith(copied, copied.CreateVector(layout));

  DirtyAllocator dirty;
  ToolBuilder in_place(kBuilderInitialSize, &dirty);
  EXPECT_EQ(FinishWith(in_place, data.CreateIn(in_place)), expected);

  // No bytes: no vector.
  ToolBuilder empty(kBuilderInitialSize);
  EXPECT_TRUE(EmbeddedData().CreateIn(empty).IsNull());
}

// Room that cannot be had is refused, naming what it was for, before the
// builder is touched: beyond the limit, and beyond 64 bits, where layouts
// saturate instead of wrapping around to a small size.
TEST(BuilderSpaceTest, RoomThatCannotBeHadIsRefusedWithWhatItWasFor) {
  const uint64_t near_end = kLayoutBeyond64Bits - 100;
  EXPECT_EQ(AlignedPosition(near_end, 0xFFFFFFFF), kLayoutBeyond64Bits);
  EXPECT_EQ(AlignedPosition(near_end, 64), near_end - near_end % 64 + 64);
  EXPECT_EQ(SaturatingAdd(near_end, 101), kLayoutBeyond64Bits);

  ToolBuilder b = MakeToolBuilder();
  EXPECT_EQ(RefusalOf([&] { ReserveBuilderSpace(b, SaturatingAdd(near_end, 101)); }),
            "Out of memory: cannot allocate the model being built: its size does not fit in 64 bits");
  {
    const LoweredAllocationLimit limit(1 << 20);
    EXPECT_EQ(RefusalOf([&] { ReserveBuilderSpace(b, 2 << 20); }),
              "Out of memory: cannot allocate 2097152 bytes for the model being built");
    ReserveBuilderSpace(b, 1 << 19);
    // The limit itself may be had, one byte more may not.
    EXPECT_EQ(RefusalOf([&] { ReserveBuilderSpace(b, 1 << 20); }), "nothing refused");
    EXPECT_EQ(RefusalOf([&] { ReserveBuilderSpace(b, (1 << 20) + 1); }),
              "Out of memory: cannot allocate 1048577 bytes for the model being built");
  }
  // The builder is as good as new after a refusal.
  ToolBuilder fresh = MakeToolBuilder();
  const Bytes bytes = Pattern(9);
  EXPECT_EQ(FinishWith(b, b.CreateVector(bytes)), FinishWith(fresh, fresh.CreateVector(bytes)));
}

}  // namespace
}  // namespace vadu::qdmstrip
