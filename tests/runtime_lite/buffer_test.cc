#include "vadu/runtime/buffer.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vadu/runtime/backend.h"

namespace vadu {
namespace {

constexpr uint64_t MAX_U64 = std::numeric_limits<uint64_t>::max();

std::vector<uint8_t> Read(const Buffer& buffer) {
  std::vector<uint8_t> bytes(buffer.Size());
  EXPECT_EQ(buffer.CopyToHost(bytes.data(), bytes.size(), 0), OK);
  return bytes;
}

TEST(Backend, DeviceCountComesFromTheEnvironment) {
  unsetenv(SIM_DEVICE_NUM_ENV);
  EXPECT_EQ(GetDeviceNum("sim"), 2);
  setenv(SIM_DEVICE_NUM_ENV, "4", 1);
  EXPECT_EQ(GetDeviceNum("sim"), 4);
  EXPECT_EQ(GetDeviceNum("other"), 0);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(8, 3).GetInitStatus(), OK);
  for (const char* bad : {"-1", "3x", "99999999999", ""}) {
    setenv(SIM_DEVICE_NUM_ENV, bad, 1);
    EXPECT_EQ(GetDeviceNum("sim"), 2) << bad;
  }
  unsetenv(SIM_DEVICE_NUM_ENV);
  EXPECT_EQ(GetSupportedBackend(), std::vector<std::string>{"sim"});
}

TEST(Buffer, UninitialisedBufferRefusesEverything) {
  Buffer empty;
  Buffer host = Buffer::CreateHostBuffer(4);
  uint8_t byte = 0;
  EXPECT_EQ(empty.GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(empty.Data(), nullptr);
  EXPECT_EQ(empty.CopyFromHost(&byte, 0, 0), UNINITIALIZED);
  EXPECT_EQ(empty.MemSet(1), UNINITIALIZED);
  EXPECT_EQ(empty.GetSubBuffer(0).GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(host.CopyTo(empty, 0, 0, 0), UNINITIALIZED);
  // An empty buffer that was made still has an address, so views never point at null.
  EXPECT_NE(Buffer::CreateHostBuffer(0).Data(), nullptr);
}

TEST(Buffer, CopiesStayInsideTheBuffer) {
  Buffer buffer = Buffer::CreateHostBuffer(8);
  ASSERT_EQ(buffer.GetInitStatus(), OK);
  EXPECT_EQ(Read(buffer), std::vector<uint8_t>(8, 0));
  const std::array<uint8_t, 3> in{1, 2, 3};
  std::array<uint8_t, 16> out{};
  EXPECT_EQ(buffer.CopyFromHost(in.data(), in.size(), 5), OK);
  EXPECT_EQ(buffer.CopyToHost(out.data(), 3, 5), OK);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(buffer.CopyFromHost(out.data(), 9, 0), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyFromHost(out.data(), 1, 8), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyToHost(out.data(), 4, 5), OUT_OF_RANGE);
  // Ranges that wrap around when offset and size are added.
  EXPECT_EQ(buffer.CopyFromHost(out.data(), 2, MAX_U64), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyToHost(out.data(), MAX_U64, 2), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyFromHost(out.data(), 0, 8), OK);
  EXPECT_EQ(buffer.CopyFromHost(nullptr, 1, 0), INVALID_ARGUMENT);

  Buffer target = Buffer::CreateHostBuffer(6);
  EXPECT_EQ(buffer.CopyTo(target, 2, 5, 4), OK);
  EXPECT_EQ(Read(target), (std::vector<uint8_t>{0, 0, 0, 0, 1, 2}));
  EXPECT_EQ(buffer.CopyTo(target, 3, 6, 0), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyTo(target, 2, 0, 5), OUT_OF_RANGE);
  EXPECT_EQ(buffer.CopyTo(target, 1, 0, MAX_U64), OUT_OF_RANGE);
}

TEST(Buffer, MemSetSizeZeroMeansToTheEnd) {
  Buffer buffer = Buffer::CreateHostBuffer(6);
  EXPECT_EQ(buffer.MemSet(7, 0, 2), OK);
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
    EXPECT_EQ(static_cast<uint8_t*>(sub.Data()), static_cast<uint8_t*>(parent.Data()) + 6);
    EXPECT_EQ(parent.MemSet(9, 1, 6), OK);
  }
  EXPECT_EQ(Read(sub), (std::vector<uint8_t>{9, 0, 0, 0}));
  EXPECT_EQ(sub.GetSubBuffer(5).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(sub.GetSubBuffer(1, 4).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(sub.GetSubBuffer(2, MAX_U64).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(sub.GetSubBuffer(0, 4).GetInitStatus(), OK);
}

TEST(Buffer, DeviceBuffersAreCheckedAgainstTheBackend) {
  Buffer device = Buffer::CreateDeviceBuffer(32, 1);
  ASSERT_EQ(device.GetInitStatus(), OK);
  EXPECT_EQ(device.Device(), HDPL);
  EXPECT_EQ(device.DeviceId(), 1);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 0, "sim", "COMPND").Device(), COMPND);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 2).GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, -1).GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 0, "other").GetInitStatus(), UNSUPPORTED);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(32, 0, "", "GPU").GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(device.Clone().DeviceId(), 1);  // clones stay on the device

  std::array<uint8_t, 4> memory{};
  Buffer wrapped = Buffer::CreateDeviceBuffer(memory.data(), memory.size(), 0, "");
  EXPECT_EQ(wrapped.Data(), memory.data());
  ASSERT_EQ(wrapped.MemSet(2, 2, 1), OK);
  EXPECT_EQ(memory, (std::array<uint8_t, 4>{0, 2, 2, 0}));
  EXPECT_EQ(Buffer::CreateDeviceBuffer(nullptr, 4, 0, "").GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(Buffer::CreateDeviceBuffer(memory.data(), 4, 9, "").GetInitStatus(), INVALID_ARGUMENT);
}

}  // namespace
}  // namespace vadu
