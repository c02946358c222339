#include "npy_file.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <limits>
#include <utility>

namespace vadu::npy {
namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr size_t kMagicSize = 6;
constexpr size_t kAlignment = 64;

std::string ShapeText(const std::vector<int64_t> &shape) {
  std::string text = "(";
  for (size_t i = 0; i < shape.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(shape[i]);
  }
  if (shape.size() == 1) text += ",";
  return text + ")";
}

bool Fail(std::string *error, const std::string &message) {
  if (error) *error = message;
  return false;
}

// A reader for the one Python literal a header holds: a dict of str keys whose
// values are a str, a bool or a tuple of non-negative ints.
class HeaderParser {
 public:
  explicit HeaderParser(const std::string &text) : text_(text) {}

  bool Parse(std::string *descr, bool *fortran_order, std::vector<int64_t> *shape, std::string *error) {
    bool seen_descr = false, seen_order = false, seen_shape = false;
    if (!Expect('{')) return Fail(error, "header is not a dict");
    while (true) {
      SkipSpace();
      if (Peek() == '}') break;
      std::string key;
      if (!String(&key) || !Expect(':')) return Fail(error, "malformed header key");
      if (key == "descr") {
        if (!String(descr)) return Fail(error, "malformed descr");
        seen_descr = true;
      } else if (key == "fortran_order") {
        if (!Bool(fortran_order)) return Fail(error, "malformed fortran_order");
        seen_order = true;
      } else if (key == "shape") {
        if (!Tuple(shape)) return Fail(error, "malformed shape");
        seen_shape = true;
      } else {
        return Fail(error, "unexpected header key '" + key + "'");
      }
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() != '}') return Fail(error, "malformed header");
    }
    if (!seen_descr || !seen_order || !seen_shape) return Fail(error, "header lacks descr, fortran_order or shape");
    return true;
  }

 private:
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void SkipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool Expect(char c) {
    SkipSpace();
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  bool String(std::string *out) {
    SkipSpace();
    const char quote = Peek();
    if (quote != '\'' && quote != '"') return false;
    const size_t end = text_.find(quote, pos_ + 1);
    if (end == std::string::npos) return false;
    *out = text_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    return true;
  }
  bool Word(const char *word) {
    const size_t n = std::strlen(word);
    if (text_.compare(pos_, n, word) != 0) return false;
    pos_ += n;
    return true;
  }
  bool Bool(bool *out) {
    SkipSpace();
    if (Word("True")) return *out = true, true;
    if (Word("False")) return *out = false, true;
    return false;
  }
  bool Int(int64_t *out) {
    SkipSpace();
    uint64_t value = 0;
    const size_t start = pos_;
    while (std::isdigit(static_cast<unsigned char>(Peek()))) {
      const uint64_t digit = static_cast<uint64_t>(Peek() - '0');
      if (value > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - digit) / 10) return false;
      value = value * 10 + digit;
      ++pos_;
    }
    if (pos_ == start) return false;
    if (Peek() == 'L') ++pos_;  // written by old Python 2 numpy
    *out = static_cast<int64_t>(value);
    return true;
  }
  bool Tuple(std::vector<int64_t> *out) {
    out->clear();
    if (!Expect('(')) return false;
    while (true) {
      SkipSpace();
      if (Peek() == ')') {
        ++pos_;
        return true;
      }
      int64_t dim = 0;
      if (!Int(&dim)) return false;
      out->push_back(dim);
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
      } else if (Peek() != ')') {
        return false;
      }
    }
  }

  const std::string &text_;
  size_t pos_ = 0;
};

uint64_t ReadLittle(const uint8_t *p, size_t n) {
  uint64_t value = 0;
  for (size_t i = 0; i < n; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

}  // namespace

std::optional<size_t> ItemSize(const std::string &descr) {
  if (descr.size() < 3) return std::nullopt;
  const char order = descr[0];
  const char kind = descr[1];
  if (kind != 'i' && kind != 'u' && kind != 'f') return std::nullopt;
  size_t size = 0;
  for (size_t i = 2; i < descr.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(descr[i])) || size > 64) return std::nullopt;
    size = size * 10 + static_cast<size_t>(descr[i] - '0');
  }
  if (size != 1 && size != 2 && size != 4 && size != 8) return std::nullopt;
  const bool little = order == '<' || order == '=';
  if (!little && !(size == 1 && (order == '|' || order == '>'))) return std::nullopt;
  if (kind == 'f' && size == 1) return std::nullopt;
  return size;
}

std::string EncodeHeader(const std::string &descr, const std::vector<int64_t> &shape) {
  std::string dict = "{'descr': '" + descr + "', 'fortran_order': False, 'shape': " + ShapeText(shape) + ", }";
  const size_t fixed = kMagicSize + 2 + 2;
  const size_t unpadded = fixed + dict.size() + 1;  // + the closing newline
  dict.append((kAlignment - unpadded % kAlignment) % kAlignment, ' ');
  dict += '\n';
  std::string header(kMagic, kMagicSize);
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xFF);
  header += static_cast<char>((dict.size() >> 8) & 0xFF);
  return header + dict;
}

bool Write(const std::filesystem::path &path, const std::string &descr, const std::vector<int64_t> &shape,
           const void *data, size_t size, std::string *error) {
  const std::string header = EncodeHeader(descr, shape);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return Fail(error, "cannot open " + path.string() + " for writing");
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  if (size > 0) out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) return Fail(error, "cannot write " + path.string());
  return true;
}

std::optional<Array> Parse(std::vector<uint8_t> file, std::string *error) {
  if (file.size() < kMagicSize + 4 || std::memcmp(file.data(), kMagic, kMagicSize) != 0) {
    Fail(error, "not a .npy file");
    return std::nullopt;
  }
  const uint8_t major = file[kMagicSize];
  size_t length_bytes = 0;
  if (major == 1) {
    length_bytes = 2;
  } else if (major == 2 || major == 3) {
    length_bytes = 4;
  } else {
    Fail(error, "unsupported .npy version " + std::to_string(major));
    return std::nullopt;
  }
  const size_t header_start = kMagicSize + 2 + length_bytes;
  if (file.size() < header_start) {
    Fail(error, "truncated .npy header");
    return std::nullopt;
  }
  const uint64_t header_length = ReadLittle(file.data() + kMagicSize + 2, length_bytes);
  if (header_length > file.size() - header_start) {
    Fail(error, "truncated .npy header");
    return std::nullopt;
  }
  const std::string header(reinterpret_cast<const char *>(file.data() + header_start), header_length);

  Array array;
  bool fortran_order = false;
  if (!HeaderParser(header).Parse(&array.descr, &fortran_order, &array.shape, error)) return std::nullopt;
  if (fortran_order) {
    Fail(error, "Fortran-ordered arrays are not supported");
    return std::nullopt;
  }
  const std::optional<size_t> item_size = ItemSize(array.descr);
  if (!item_size) {
    Fail(error, "unsupported element type '" + array.descr + "'");
    return std::nullopt;
  }
  uint64_t count = 1;
  for (int64_t dim : array.shape) {
    const auto udim = static_cast<uint64_t>(dim);
    if (udim != 0 && count > std::numeric_limits<uint64_t>::max() / udim) {
      Fail(error, "shape too large");
      return std::nullopt;
    }
    count *= udim;
  }
  const size_t data_start = header_start + header_length;
  const uint64_t available = file.size() - data_start;
  if (count > available / *item_size || count * *item_size != available) {
    Fail(error, "data length does not match shape and element type");
    return std::nullopt;
  }
  // The data moves down over the header in place, instead of into a second buffer.
  file.erase(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(data_start));
  array.data = std::move(file);
  return array;
}

std::optional<Array> Read(const std::filesystem::path &path, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(error, "cannot open " + path.string());
    return std::nullopt;
  }
  // In one sized read; what has no size (a directory) reads as empty.
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  std::vector<uint8_t> file(ec ? 0 : size);
  in.read(reinterpret_cast<char *>(file.data()), static_cast<std::streamsize>(file.size()));
  if (in.bad()) {
    Fail(error, "cannot read " + path.string());
    return std::nullopt;
  }
  file.resize(static_cast<size_t>(in.gcount()));
  return Parse(std::move(file), error);
}

}  // namespace vadu::npy
