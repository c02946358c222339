// Small helpers for looking into reader documents in tests.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <picojson.h>

#include "binary_json_reader.h"

namespace vadu::testing {

// The document of a reader that must accept the bytes.
inline picojson::object Parse(BinaryJsonReader &reader, const std::vector<uint8_t> &bytes) {
  EXPECT_TRUE(reader.ParseToJson(bytes.data(), bytes.size()));
  if (!reader.json.is<picojson::object>()) return {};
  return reader.json.get<picojson::object>();
}

inline const picojson::object &Obj(const picojson::value &v) { return v.get<picojson::object>(); }
inline const picojson::array &Arr(const picojson::value &v) { return v.get<picojson::array>(); }
inline const picojson::object &Obj(const picojson::object &o, const std::string &key) { return Obj(o.at(key)); }
inline const picojson::array &Arr(const picojson::object &o, const std::string &key) { return Arr(o.at(key)); }
inline std::string Str(const picojson::object &o, const std::string &key) { return o.at(key).get<std::string>(); }
inline int64_t Int(const picojson::object &o, const std::string &key) { return o.at(key).get<int64_t>(); }

inline std::vector<std::string> Keys(const picojson::object &o) {
  std::vector<std::string> keys;
  for (const auto &entry : o) keys.push_back(entry.first);
  return keys;
}

inline std::vector<int64_t> Ints(const picojson::value &v) {
  std::vector<int64_t> values;
  for (const picojson::value &e : v.get<picojson::array>()) values.push_back(e.get<int64_t>());
  return values;
}

}  // namespace vadu::testing
