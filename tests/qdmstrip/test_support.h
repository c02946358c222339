// Helpers shared by the qdmstrip suites: scratch directories, captured
// standard streams, and reading a written model back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model_factory.h"
#include "qdms_generated.h"

namespace vadu::qdmstrip::testing {

// A fresh directory under `parent` (the system temp dir unless named),
// removed with everything in it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::filesystem::path &parent = std::filesystem::temp_directory_path());
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  const std::filesystem::path &path() const { return path_; }
  std::string File(const std::string &name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Captures both standard streams from construction until Take().
class CapturedStreams {
 public:
  CapturedStreams();
  ~CapturedStreams();
  CapturedStreams(const CapturedStreams &) = delete;
  CapturedStreams &operator=(const CapturedStreams &) = delete;

  void Take();
  const std::string &out() const { return out_; }
  const std::string &err() const { return err_; }

 private:
  bool taken_ = false;
  std::string out_;
  std::string err_;
};

// Runs the current directory of the process in `dir` until destroyed.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path &dir);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory &) = delete;
  WorkingDirectory &operator=(const WorkingDirectory &) = delete;

 private:
  std::filesystem::path previous_;
};

// The bar that ShowProgressBar draws for a complete job, newline included.
std::string CompleteBar(const std::string &label, uint64_t total);

inline const binary::Model *ModelOf(const vadu::testing::Bytes &bytes) { return binary::GetModel(bytes.data()); }
inline const binary::Models *ModelsOf(const vadu::testing::Bytes &bytes) {
  return binary::GetModels(bytes.data());
}

// A vector or string as a value, absent as nullopt, for whole-value comparisons.
template <typename T>
std::optional<std::vector<T>> Values(const flatbuffers::Vector<T> *v) {
  if (v == nullptr) return std::nullopt;
  return std::vector<T>(v->begin(), v->end());
}
inline std::optional<std::string> Text(const flatbuffers::String *s) {
  if (s == nullptr) return std::nullopt;
  return s->str();
}

// True when the table stores the field itself (a forced default included).
template <typename T>
bool Stores(const T *table, flatbuffers::voffset_t field) {
  return reinterpret_cast<const flatbuffers::Table *>(table)->CheckField(field);
}

}  // namespace vadu::qdmstrip::testing
