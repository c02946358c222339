// Reading and writing numpy .npy files (format version 1.0 on write; 1.0, 2.0
// and 3.0 on read), little-endian, C order. Used by the module's tensor dumps.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vadu::npy {

struct Array {
  std::string descr;           // element type as numpy spells it, e.g. "<f4"
  std::vector<int64_t> shape;  // empty for a 0-dimensional array
  std::vector<uint8_t> data;   // the elements in C order
};

// The header dictionary of a version 1.0 file, padded so that the data starts
// at a multiple of 64 bytes.
std::string EncodeHeader(const std::string &descr, const std::vector<int64_t> &shape);

// Writes `size` bytes at `data` as an array; false with `error` set on failure.
bool Write(const std::filesystem::path &path, const std::string &descr, const std::vector<int64_t> &shape,
           const void *data, size_t size, std::string *error);

// Parses a whole file image. Refuses Fortran order, a shape with negative
// dimensions or an element count that overflows, and a data part whose length
// is not exactly the element count times the element size. The image's own
// memory becomes the array's data.
std::optional<Array> Parse(std::vector<uint8_t> file, std::string *error);

std::optional<Array> Read(const std::filesystem::path &path, std::string *error);

// Bytes per element of a descr such as "<i2" or "|u1"; nullopt for anything
// that is not a little-endian (or byte-sized) integer or float type.
std::optional<size_t> ItemSize(const std::string &descr);

}  // namespace vadu::npy
