// The .npy reader and writer used by module dumps.
#include <gtest/gtest.h>

#include "npy_file.h"

namespace vadu::npy {
namespace {

std::vector<uint8_t> FileImage(const std::string &header_dict, size_t data_bytes, uint8_t major = 1) {
  std::string image("\x93NUMPY", 6);
  image += static_cast<char>(major);
  image += '\0';
  const size_t length = header_dict.size();
  image += static_cast<char>(length & 0xFF);
  image += static_cast<char>(length >> 8);
  if (major != 1) image += std::string(2, '\0');
  image += header_dict;
  image += std::string(data_bytes, '\x5A');
  return std::vector<uint8_t>(image.begin(), image.end());
}

TEST(NpyTest, ParsesWhatItWritesAndWhatNumpyWrites) {
  const std::string written = EncodeHeader("<i2", {2, 3}) + std::string(12, '\x01');
  const auto array = Parse(std::vector<uint8_t>(written.begin(), written.end()), nullptr);
  ASSERT_TRUE(array);
  EXPECT_EQ(array->descr, "<i2");
  EXPECT_EQ(array->shape, (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(array->data.size(), 12u);

  // Double quotes, other key order, version 2.0, a 0-d array.
  const auto v2 = Parse(FileImage("{\"shape\": (), \"fortran_order\": False, \"descr\": \"<f2\"}\n", 2, 2), nullptr);
  ASSERT_TRUE(v2);
  EXPECT_TRUE(v2->shape.empty());
  EXPECT_EQ(v2->data.size(), 2u);
}

TEST(NpyTest, RefusesWhatItCannotReadSafely) {
  std::string error;
  const std::string dict_f4 = "{'descr': '<f4', 'fortran_order': False, 'shape': (2, 3), }\n";
  EXPECT_TRUE(Parse(FileImage(dict_f4, 24), &error)) << error;
  EXPECT_FALSE(Parse(FileImage(dict_f4, 23), &error));
  EXPECT_FALSE(Parse(FileImage(dict_f4, 25), &error));
  EXPECT_FALSE(Parse(FileImage("{'descr': '<f4', 'fortran_order': True, 'shape': (2, 3), }\n", 24), &error));
  EXPECT_FALSE(Parse(FileImage("{'descr': '>f4', 'fortran_order': False, 'shape': (6,), }\n", 24), &error));
  EXPECT_FALSE(Parse(FileImage("{'descr': '<c8', 'fortran_order': False, 'shape': (3,), }\n", 24), &error));
  EXPECT_FALSE(Parse(FileImage("{'descr': '<f4', 'shape': (6,), }\n", 24), &error));
  // Element counts whose byte size wraps around 64 bits.
  EXPECT_FALSE(Parse(FileImage("{'descr': '<f4', 'fortran_order': False, 'shape': (4611686018427387904,), }\n", 0),
                     &error));
  EXPECT_FALSE(Parse(FileImage("{'descr': '|u1', 'fortran_order': False, 'shape': (4294967296, 4294967296), }\n", 0),
                     &error));
  EXPECT_FALSE(Parse(FileImage("{'descr': '|u1', 'fortran_order': False, 'shape': (-1,), }\n", 0), &error));
  EXPECT_FALSE(Parse(FileImage("{'descr': '|u1', 'fortran_order': False, 'shape': (1,", 1), &error));
  // A header length past the end of the file.
  std::vector<uint8_t> long_header = FileImage(dict_f4, 0);
  long_header[9] = 0x7F;
  EXPECT_FALSE(Parse(long_header, &error));
  EXPECT_FALSE(Parse(std::vector<uint8_t>{0x93, 'N', 'U', 'M'}, &error));
  EXPECT_FALSE(Parse(FileImage(dict_f4, 24, 4), &error));
}

TEST(NpyTest, ReadRefusesWhatIsNoFileWithAMessage) {
  std::string error;
  const std::filesystem::path folder = ::testing::TempDir();
  EXPECT_FALSE(Read(folder, &error));
  EXPECT_EQ(error, "not a .npy file");
  EXPECT_FALSE(Read(folder / "no such file.npy", &error));
  EXPECT_EQ(error, "cannot open " + (folder / "no such file.npy").string());
}

}  // namespace
}  // namespace vadu::npy
