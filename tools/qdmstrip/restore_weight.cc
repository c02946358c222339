#include "restore_weight.h"

#include <cstring>
#include <iostream>

#include "allocation_failure.h"
#include "mapped_pages.h"
#include "progress_bar.h"
#include "stripped_weight_marker.h"
#include "vadu_mmap.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;

// Keys of the headers that carry the marker and a non-zero size, in any Binary.
WeightKeySet StrippedKeys(const vb::Model &model) {
  WeightKeySet keys;
  if (model.weights() == nullptr) return keys;
  for (const vb::Binary *blob : *model.weights()) {
    if (blob->headers() == nullptr) continue;
    for (const vb::BinaryHeader *header : *blob->headers()) {
      if (header->offset() == STRIPPED_WEIGHT_OFFSET_MARKER && header->size() != 0) keys.insert(KeyOf(*header));
    }
  }
  return keys;
}

uint64_t HeaderCount(const vb::Model &model) {
  uint64_t count = 0;
  for (const vb::Binary *blob : *model.weights()) {
    if (blob->headers() != nullptr) count += blob->headers()->size();
  }
  return count;
}

std::string NameOf(const vb::BinaryHeader &header) {
  return header.name() != nullptr ? header.name()->str() : std::string();
}

// The bytes a source header addresses, or null after printing the range error.
const uint8_t *SourceBytes(const vb::Model &model, const vb::Binary &blob, const vb::BinaryHeader &header) {
  const WeightBytes located = LocateWeightBytes(model, blob, header);
  if (located.found) return located.bytes.data();
  std::cerr << (IsRawOffset(blob) ? "\n[ERROR] RAW_OFFSET weight out of range: " : "\n[ERROR] Embedded weight out of range: ")
            << NameOf(header) << "\n";
  return nullptr;
}

}  // namespace

int RestoreWeightRun(const std::vector<std::string> &inputs, const std::string &output) {
  return RunReportingAllocationFailure([&] {
    RestoreWeightTool tool;
    return tool.Run(inputs, output);
  });
}

int RestoreWeightTool::Run(const std::vector<std::string> &inputs, const std::string &output) {
  if (inputs.size() < 2) {
    std::cerr << "[ERROR] Need at least 2 input models (one or more source models and the stripped model).\n";
    return 1;
  }
  const std::vector<std::string> sources(inputs.begin(), inputs.end() - 1);
  const std::string &stripped_path = inputs.back();
  std::cout << "[INFO] Source models: " << sources.size() << "\n";
  std::cout << "[INFO] Stripped model: " << stripped_path << "\n";

  // Declared so that they are released in the order: collected weights,
  // source files, needed keys, stripped model.
  ReadOnlyMMapFile stripped_file;
  const vb::Model *stripped = LoadModelFromFile(stripped_file, stripped_path);
  if (stripped == nullptr) return 1;
  ReadAheadForCopying(stripped_file);
  stripped_file_size_ = stripped_file.size();

  const WeightKeySet needed = StrippedKeys(*stripped);
  std::cout << "[INFO] Need to restore " << needed.size() << " unique stripped weights from source models\n";

  std::vector<ReadOnlyMMapFile> files(sources.size());
  WeightDataMap collected;
  collected.max_load_factor(1.0f);
  collected.reserve(needed.size());
  if (!CollectSourceWeights(sources, files, needed, collected)) return 1;

  OffsetList<vb::Binary> weights;
  RawDataOffset raw_data = 0;
  if (!RestoreWeights(*stripped, collected, weights, raw_data)) return 1;

  if (!BuildWriteVerify(*stripped, weights, raw_data, output)) {
    std::cerr << "[ERROR] Failed to build/write/verify model to: " << output << "\n";
    return 1;
  }
  std::cout << "[DONE] Restored model written: " << output << " (size=" << builder_.GetSize() << " bytes)\n";
  return 0;
}

bool RestoreWeightTool::CollectSourceWeights(const std::vector<std::string> &paths,
                                             std::vector<ReadOnlyMMapFile> &files, const WeightKeySet &needed,
                                             WeightDataMap &collected) {
  const size_t count = paths.size();
  for (size_t i = 0; i < count; ++i) {
    const std::string &path = paths[i];
    std::cout << "[INFO] Loading source [" << i + 1 << "/" << count << "]: " << path << "\n";
    ReadOnlyMMapFile &file = files[i];
    if (!file.Init(path)) {
      std::cerr << "[ERROR] Loading model failed: " << path << "\n";
      return false;
    }
    const auto *bytes = static_cast<const uint8_t *>(file.data());
    if (!VerifyQdmModel(bytes, file.size(), false, false, "")) return false;
    if (bytes == nullptr) {
      std::cerr << "[ERROR] Invalid model: " << path << "\n";
      return false;
    }
    const vb::Model &model = *vb::GetModel(bytes);
    if (model.weights() == nullptr) {
      std::cerr << "[WARN] Source model has no weights, skipping: " << path << "\n";
      continue;
    }
    ReadAheadForCopying(file);

    const uint64_t total = HeaderCount(model);
    uint64_t scanned = 0;
    for (const vb::Binary *blob : *model.weights()) {
      if (blob->headers() == nullptr) continue;
      for (const vb::BinaryHeader *header : *blob->headers()) {
        ShowProgressBar("Collect Source", ++scanned, total);
        const WeightKey key = KeyOf(*header);
        if (!needed.empty() && !needed.contains(key)) continue;

        const auto existing = collected.find(key);
        if (existing != collected.end()) {
          if (key.size == 0) continue;
          const uint8_t *data = SourceBytes(model, *blob, *header);
          if (data == nullptr) return false;
          const WeightDataInfo &kept = existing->second;
          const auto kept_bytes = kept.Bytes();
          if (kept.HasBytes() && kept.size == key.size && std::memcmp(kept_bytes.data(), data, key.size) == 0) {
            continue;
          }
          std::cerr << "\n[ERROR] Collision: same (hash,size) but different bytes. key(hash=" << key.hash
                    << ", size=" << key.size << ") prev_src=" << kept.source_path << " cur_src=" << path
                    << " name_prev=" << kept.name << " name_cur=" << NameOf(*header) << "\n";
          return false;
        }

        WeightDataInfo entry;
        entry.offset = header->offset();
        entry.size = header->size();
        entry.align = header->align();
        entry.hash = header->hash();
        entry.name = NameOf(*header);
        entry.is_raw = IsRawOffset(*blob);
        entry.source_path = path;
        if (entry.size != 0) {
          entry.data = SourceBytes(model, *blob, *header);
          if (entry.data == nullptr) return false;
        }
        collected.emplace(key, std::move(entry));
      }
    }
    std::cout << "[INFO] Source [" << i + 1 << "]: scanned " << scanned << " headers, map size = " << collected.size()
              << "\n";
  }
  std::cout << "[INFO] Collected " << collected.size() << " needed weights from source models\n";
  return true;
}

}  // namespace vadu::qdmstrip
