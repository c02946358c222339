#include "vadu/runtime/buffer.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vadu/runtime/backend.h"

namespace vadu {
namespace {

constexpr uint64_t MAX_U64 = std::numeric_limits<uint64_t>::max();

// Sets the simulated device count for one test and restores it after.
class ScopedDeviceNum {
 public:
  explicit ScopedDeviceNum(const char* value) {
    if (const char* old = std::getenv(SIM_DEVICE_NUM_ENV)) saved_ = old;
    if (value) {
      setenv(SIM_DEVICE_NUM_ENV, value, 1);
    } else {
      unsetenv(SIM_DEVICE_NUM_ENV);
    }
  }
  ~ScopedDeviceNum() {
    if (saved_) {
      setenv(SIM_DEVICE_NUM_ENV, saved_->c_str(), 1);
    } else {
      unsetenv(SIM_DEVICE_NUM_ENV);
    }
  }

 private:
  std::optional<std::string> saved_;
};

std::vector<uint8_t> Read(const Buffer& buffer) {
  std::vector<uint8_t> bytes(buffer.Size());
  EXPECT_EQ(buffer.CopyToHost(bytes.data(), bytes.size(), 0), OK);
  return bytes;
}

TEST(Backend, DeviceCountComesFromTheEnvironment) {
  {
    ScopedDeviceNum unset(nullptr);
    EXPECT_EQ(GetDeviceNum("sim"), 2);
  }
  {
    ScopedDeviceNum four("4");
    EXPECT_EQ(GetDeviceNum("sim"), 4);
    EXPECT_EQ(GetDeviceNum("other"), 0);
    EXPECT_EQ(GetDeviceNum(""), 0);
  }
  for (const char* bad : {"-1", "3x", "99999999999", ""}) {
    ScopedDeviceNum invalid(bad);
    EXPECT_EQ(GetDeviceNum("sim"), 2) << bad;
  }
  EXPECT_EQ(GetSupportedBackend(), std::vector<std::string>{"sim"});
  EXPECT_FALSE(GetVersion().empty());
}

TEST(Buffer, DefaultIsUninitialisedAndRefusesEverything) {
  Buffer empty;
  uint8_t byte = 0;
  EXPECT_EQ(empty.GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(empty.Data(), nullptr);
  EXPECT_EQ(empty.Size(), 0u);
  EXPECT_EQ(empty.CopyFromHost(&byte, 0, 0), UNINITIALIZED);
  EXPECT_EQ(empty.CopyToHost(&byte, 0, 0), UNINITIALIZED);
  EXPECT_EQ(empty.MemSet(1), UNINITIALIZED);
  EXPECT_EQ(empty.Clone().GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(empty.GetSubBuffer(0).GetInitStatus(), UNINITIALIZED);
  Buffer host = Buffer::CreateHostBuffer(4);
  EXPECT_EQ(empty.CopyTo(host, 0, 0, 0), UNINITIALIZED);
  EXPECT_EQ(host.CopyTo(empty, 0, 0, 0), UNINITIALIZED);
}

TEST(Buffer, HostBufferIsZeroedAndCopiesRoundTrip) {
  Buffer buffer = Buffer::CreateHostBuffer(8);
  ASSERT_EQ(buffer.GetInitStatus(), OK);
  EXPECT_EQ(buffer.Device(), CPU);
  EXPECT_EQ(Read(buffer), std::vector<uint8_t>(8, 0));
  const std::array<uint8_t, 3> in{1, 2, 3};
  EXPECT_EQ(buffer.CopyFromHost(in.data(), in.size(), 5), OK);
  std::array<uint8_t, 3> out{};
  EXPECT_EQ(buffer.CopyToHost(out.data(), out.size(), 5), OK);
  EXPECT_EQ(out, in);
  // An empty buffer still has an address, so views of it never point at null.
  EXPECT_NE(Buffer::CreateHostBuffer(0).Data(), nullptr);
}

TEST(Buffer, CopiesOutsideTheBufferAreRefused) {
  Buffer buffer = Buffer::CreateHostBuffer(8);
  std::array<uint8_t, 16> bytes{};
  EXPECT_EQ(buffer.CopyFromHost(bytes.data(), 9, 0), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyFromHost(bytes.data(), 1, 8), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyToHost(bytes.data(), 4, 5), OUT_OF_RANGE);
  // Offsets that wrap around when added to the size.
  EXPECT_EQ(buffer.CopyFromHost(bytes.data(), 2, MAX_U64), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyToHost(bytes.data(), MAX_U64, 2), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyFromHost(bytes.data(), 0, 8), OK);
  EXPECT_EQ(buffer.CopyFromHost(nullptr, 1, 0), INVALID_ARGUMENT);
  EXPECT_EQ(buffer.CopyToHost(nullptr, 1, 0), INVALID_ARGUMENT);
}

TEST(Buffer, MemSetSizeZeroMeansToTheEnd) {
  Buffer buffer = Buffer::CreateHostBuffer(6);
  EXPECT_EQ(buffer.MemSet(7, 0, 2), OK);
  EXPECT_EQ(Read(buffer), (std::vector<uint8_t>{0, 0, 7, 7, 7, 7}));
  EXPECT_EQ(buffer.MemSet(-1, 2, 0), OK);
  EXPECT_EQ(Read(buffer), (std::vector<uint8_t>{255, 255, 7, 7, 7, 7}));
  EXPECT_EQ(buffer.MemSet(1, 0, 6), OK);  // nothing left to set
  EXPECT_EQ(buffer.MemSet(1, 0, 7), OUT_OF_RANGE);
  EXPECT_EQ(buffer.MemSet(1, 5, 2), OUT_OF_RANGE);
  EXPECT_EQ(buffer.MemSet(1, MAX_U64, 1), OUT_OF_RANGE);
  EXPECT_EQ(Read(buffer), (std::vector<uint8_t>{255, 255, 7, 7, 7, 7}));
}

TEST(Buffer, SubBuffersShareMemoryAndOutliveTheirParent) {
  Buffer sub;
  {
    Buffer parent = Buffer::CreateHostBuffer(16);
    sub = parent.GetSubBuffer(8, 4).GetSubBuffer(4, 2);  // bytes 6..9 of the parent
    ASSERT_EQ(sub.GetInitStatus(), OK);
    EXPECT_EQ(sub.Size(), 4u);
    EXPECT_EQ(static_cast<uint8_t*>(sub.Data()), static_cast<uint8_t*>(parent.Data()) + 6);
    EXPECT_EQ(parent.MemSet(9, 1, 6), OK);
  }
  EXPECT_EQ(Read(sub), (std::vector<uint8_t>{9, 0, 0, 0}));
  EXPECT_EQ(sub.MemSet(3), OK);
  EXPECT_EQ(sub.GetSubBuffer(5).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(sub.GetSubBuffer(1, 4).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(sub.GetSubBuffer(2, MAX_U64).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(sub.GetSubBuffer(0, 4).GetInitStatus(), OK);
}

TEST(Buffer, CloneCopiesOnlyWhenAsked) {
  Buffer source = Buffer::CreateHostBuffer(4);
  ASSERT_EQ(source.MemSet(5), OK);
  Buffer copy = source.Clone(true);
  Buffer blank = source.Clone(false);
  EXPECT_NE(copy.Data(), source.Data());
  EXPECT_EQ(Read(copy), std::vector<uint8_t>(4, 5));
  EXPECT_EQ(Read(blank), std::vector<uint8_t>(4, 0));
  ASSERT_EQ(copy.MemSet(6), OK);
  EXPECT_EQ(Read(source), std::vector<uint8_t>(4, 5));
}

TEST(Buffer, CopyToChecksBothRanges) {
  Buffer source = Buffer::CreateHostBuffer(4);
  Buffer target = Buffer::CreateHostBuffer(6);
  const std::array<uint8_t, 4> bytes{1, 2, 3, 4};
  ASSERT_EQ(source.CopyFromHost(bytes.data(), 4, 0), OK);
  EXPECT_EQ(source.CopyTo(target, 2, 1, 4), OK);
  EXPECT_EQ(Read(target), (std::vector<uint8_t>{0, 0, 0, 0, 2, 3}));
  EXPECT_EQ(source.CopyTo(target, 3, 2, 0), OUT_OF_RANGE);
  EXPECT_EQ(source.CopyTo(target, 2, 0, 5), OUT_OF_RANGE);
  EXPECT_EQ(source.CopyTo(target, 1, 0, MAX_U64), OUT_OF_RANGE);
}

TEST(Buffer, DeviceBuffersAreCheckedAgainstTheBackend) {
  ScopedDeviceNum two("2");
  Buffer device = Buffer::CreateDeviceBuffer(32, 1);
  ASSERT_EQ(device.GetInitStatus(), OK);
  EXPECT_EQ(device.Device(), HDPL);
  EXPECT_EQ(device.DeviceId(), 1);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 0, "sim", "COMPND").Device(), COMPND);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 2).GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, -1).GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 0, "other").GetInitStatus(), UNSUPPORTED);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 0, "", "GPU").GetInitStatus(), INVALID_ARGUMENT);
  // Clones and sub-buffers stay on the device.
  EXPECT_EQ(device.Clone().DeviceId(), 1);
  EXPECT_EQ(device.GetSubBuffer(4, 4).Device(), HDPL);
}

TEST(Buffer, WrappedMemoryIsTheCallersMemory) {
  std::array<uint8_t, 4> memory{};
  Buffer host = Buffer::CreateHostBuffer(memory.size(), memory.data());
  ASSERT_EQ(host.GetInitStatus(), OK);
  EXPECT_EQ(host.Data(), memory.data());
  ASSERT_EQ(host.MemSet(2, 2, 1), OK);
  EXPECT_EQ(memory, (std::array<uint8_t, 4>{0, 2, 2, 0}));

  Buffer device = Buffer::CreateDeviceBuffer(memory.data(), memory.size(), 0, "");
  EXPECT_EQ(device.Device(), HDPL);
  EXPECT_EQ(device.Data(), memory.data());
  EXPECT_EQ(Buffer::CreateDeviceBuffer(nullptr, 4, 0, "").GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(memory.data(), 4, 9, "").GetInitStatus(), INVALID_ARGUMENT);
}

}  // namespace
}  // namespace vadu
