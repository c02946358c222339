#include "weight_tool_base.h"

#include <algorithm>
#include <fstream>
#include <iostream>

#include "model_verifier.h"
#include "progress_bar.h"
#include "vadu_mmap.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;

const uint8_t *Bytes(const ReadOnlyMMapFile &file) { return static_cast<const uint8_t *>(file.data()); }

// The read-back half of VerifyModel and VerifyQdmsModel: maps `path` and runs `check` on it.
template <typename Check>
bool FileOnDiskPasses(const std::string &path, const char *open_failure, Check check) {
  ReadOnlyMMapFile file;
  if (!file.Init(path)) {
    std::cerr << open_failure << path << std::endl;
    return false;
  }
  return check(Bytes(file), file.size());
}

}  // namespace

WeightToolBase::WeightToolBase() : builder_(MakeToolBuilder()) {}

WeightToolBase::~WeightToolBase() = default;

const vb::Model *WeightToolBase::LoadModelFromFile(ReadOnlyMMapFile &file, const std::string &path) {
  if (!file.Init(path)) {
    std::cerr << "[ERROR] Loading model failed: " << path << "\n";
    return nullptr;
  }
  if (!VerifyQdmModel(Bytes(file), file.size(), false, false, "")) return nullptr;
  if (file.data() == nullptr) {
    std::cerr << "[ERROR] Invalid model: " << path << "\n";
    return nullptr;
  }
  return vb::GetModel(file.data());
}

const vb::Models *WeightToolBase::LoadModelsFromFile(ReadOnlyMMapFile &file, const std::string &path) {
  if (!file.Init(path)) {
    std::cerr << "[ERROR] Loading models container failed: " << path << "\n";
    return nullptr;
  }
  if (!vb::VerifyModelsBuffer(Bytes(file), file.size())) {
    std::cerr << "[ERROR] VerifyModelsBuffer failed: " << path << "\n";
    return nullptr;
  }
  if (file.data() == nullptr) {
    std::cerr << "[ERROR] Invalid models container: " << path << "\n";
    return nullptr;
  }
  return vb::GetModels(file.data());
}

int WeightToolBase::VerifyQdmsModel(const uint8_t *data, uint64_t size, const std::string &path) {
  std::cout << "[INFO] Verify Models buffer..." << std::endl;
  if (!vb::VerifyModelsBuffer(data, size)) {
    std::cerr << "[ERROR] VerifyModelsBuffer failed (in-memory).\n";
    return 1;
  }
  const bool written_ok = FileOnDiskPasses(path, "Failed to open output models for check: ",
                                           [](const uint8_t *bytes, uint64_t length) {
                                             if (vb::VerifyModelsBuffer(bytes, length)) return true;
                                             std::cerr << "Models check failed!" << std::endl;
                                             return false;
                                           });
  if (!written_ok) return 1;
  std::cout << "[DONE] Models written: " << path << " (size=" << size << " bytes)\n";
  return 0;
}

int WeightToolBase::VerifyModel(const std::string &path) {
  std::cout << "[INFO] Verify..." << std::endl;
  const uint8_t *data = builder_.GetBufferPointer();
  const uint64_t size = builder_.GetSize();
  if (!VerifyQdmModel(data, size, true, false, "")) {
    std::cerr << "[ERROR] Verify failed." << "\n";
    return 1;
  }
  const bool written_ok = FileOnDiskPasses(path, "Failed to open output model for check: ",
                                           [](const uint8_t *bytes, uint64_t length) {
                                             if (VerifyQdmModel(bytes, length, true, false, "")) return true;
                                             std::cerr << "Model check failed!" << std::endl;
                                             return false;
                                           });
  if (!written_ok) return 1;
  std::cout << "[DONE] Model written: " << path << " (size=" << size << " bytes)\n";
  return 0;
}

int WeightToolBase::WriteBufferToFile(const uint8_t *data, uint64_t size, const std::string &path,
                                      const char *label) {
  std::cout << "[INFO] " << label << "...\n";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) {
    std::cerr << "[ERROR] Cannot open output: " << path << "\n";
    return 1;
  }
  uint64_t written = 0;
  while (written < size) {
    const uint64_t chunk = std::min(kWriteChunkSize, size - written);
    out.write(reinterpret_cast<const char *>(data + written), static_cast<std::streamsize>(chunk));
    if (!out) break;  // a full disk: stop at the first chunk that did not go through
    written += chunk;
    ShowProgressBar(label, written, size);
  }
  std::cout << "[INFO] Saving...\n";
  out.close();
  // A write or close that failed leaves a short or damaged file: not a success.
  if (!out) {
    std::cerr << "[ERROR] Failed to write output: " << path << "\n";
    return 1;
  }
  return 0;
}

}  // namespace vadu::qdmstrip
