#include "restore_qdms_weight.h"

#include <algorithm>
#include <iostream>
#include <unordered_map>

#include "allocation_failure.h"
#include "mapped_pages.h"
#include "progress_bar.h"
#include "sub_model_view.h"
#include "vadu_mmap.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;

std::string NameOf(const vb::BinaryHeader &header) {
  return header.name() != nullptr ? header.name()->str() : std::string();
}

// A loaded container that has both model_headers and model_data, or null.
const vb::Models *LoadWholeContainer(ReadOnlyMMapFile &file, const std::string &path) {
  const vb::Models *container = WeightToolBase::LoadModelsFromFile(file, path);
  if (container == nullptr || container->model_headers() == nullptr || container->model_data() == nullptr) {
    return nullptr;
  }
  return container;
}

// The bytes a source header addresses, or an empty result after printing the range error.
WeightBytes SourceBytes(const vb::Model &model, const vb::Binary &blob, const vb::BinaryHeader &header) {
  const WeightBytes located = LocateWeightBytes(model, blob, header);
  if (!located.found) {
    std::cerr << (IsRawOffset(blob) ? "[ERROR] RAW_OFFSET weight out of range: " : "[ERROR] Embedded weight out of range: ")
              << NameOf(header) << "\n";
  }
  return located;
}

// Adds the weights of one source sub-model; false after printing why.
bool CollectSubModel(const vb::Model &model, const std::string &path, WeightDataMap &collected) {
  if (model.weights() == nullptr) return true;
  for (const vb::Binary *blob : *model.weights()) {
    if (blob->headers() == nullptr) continue;
    for (const vb::BinaryHeader *header : *blob->headers()) {
      const WeightKey key = KeyOf(*header);
      const auto existing = collected.find(key);
      if (existing != collected.end()) {
        if (key.size == 0) continue;
        const WeightBytes located = SourceBytes(model, *blob, *header);
        if (!located.found) return false;
        const WeightDataInfo &kept = existing->second;
        if (std::ranges::equal(kept.Bytes(), located.bytes)) continue;
        std::cerr << "[ERROR] Collision: same (hash,size) but different bytes. key(hash=" << key.hash
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
        const WeightBytes located = SourceBytes(model, *blob, *header);
        if (!located.found) return false;
        entry.bytes.assign(located.bytes.begin(), located.bytes.end());
        // Only the copy is read from here on: the mapped pages need not stay resident.
        ReleaseCopiedPages(located.bytes);
      }
      collected.emplace(key, std::move(entry));
    }
  }
  return true;
}

// For each stripped sub-model, the collected weights it is the last to look
// up; weights that no sub-model looks up are dropped at once. Letting each go
// after its last use keeps the copies from piling up beside the restored
// sub-models. A sub-model that does not open ends the scan (the restore stops there).
std::vector<std::vector<WeightKey>> PlanReleases(const vb::Models &stripped, WeightDataMap &collected) {
  const auto &headers = *stripped.model_headers();
  std::unordered_map<WeightKey, uint32_t, WeightKeyHash> last_use;
  for (uint32_t i = 0; i < headers.size(); ++i) {
    SubModelView sub_model;
    if (!sub_model.Open(stripped, *headers.Get(i))) break;
    const vb::Model &model = *sub_model.model();
    if (model.weights() == nullptr) break;
    for (const vb::Binary *blob : *model.weights()) {
      if (blob->headers() == nullptr) continue;
      for (const vb::BinaryHeader *header : *blob->headers()) last_use[KeyOf(*header)] = i;
    }
  }
  std::vector<std::vector<WeightKey>> releases(headers.size());
  std::erase_if(collected, [&](const auto &entry) {
    const auto use = last_use.find(entry.first);
    if (use == last_use.end()) return true;
    releases[use->second].push_back(entry.first);
    return false;
  });
  return releases;
}

}  // namespace

int RestoreQdmsRun(const std::vector<std::string> &inputs, const std::string &output) {
  return RunReportingAllocationFailure([&] {
    RestoreQdmsTool tool;
    return tool.Run(inputs, output);
  });
}

int RestoreQdmsTool::Run(const std::vector<std::string> &inputs, const std::string &output) {
  if (inputs.size() < 2) {
    std::cerr << "[ERROR] Need at least 2 input qdms (source + stripped).\n";
    return 1;
  }
  const std::vector<std::string> sources(inputs.begin(), inputs.end() - 1);
  const std::string &stripped_path = inputs.back();
  std::cout << "[INFO] Source qdms files: " << sources.size() << "\n";
  std::cout << "[INFO] Stripped qdms: " << stripped_path << "\n";

  WeightDataMap collected;
  if (!CollectSourceWeightsQdms(sources, collected)) return 1;

  // Stays mapped until the container is written: the sub-models and the graph are read from it.
  ReadOnlyMMapFile stripped_file;
  const vb::Models *stripped = LoadWholeContainer(stripped_file, stripped_path);
  if (stripped == nullptr) {
    std::cerr << "[ERROR] Invalid stripped qdms\n";
    return 1;
  }
  ReadAheadForCopying(stripped_file);

  const auto &headers = *stripped->model_headers();
  const std::vector<std::vector<WeightKey>> releases = PlanReleases(*stripped, collected);
  ContainerBlob blob(ContainerHeadroom(*stripped));
  std::vector<ModelHeaderMetadata> metadata;
  for (uint32_t i = 0; i < headers.size(); ++i) {
    const vb::BinaryHeader &header = *headers.Get(i);
    SubModelView sub_model;
    if (!sub_model.Open(*stripped, header)) {
      std::cerr << "[ERROR] Sub-model verification failed in stripped qdms\n";
      return 1;
    }
    // Built where it will lie in the new container, so it is never copied into a buffer of its own.
    const uint64_t start = blob.NextStart(header.align());
    ToolBuilder restored = blob.SubModelBuilder(start);
    if (!RestoreSubModel(sub_model.model(), collected, restored)) {
      std::cerr << "[ERROR] Failed to restore sub-model\n";
      return 1;
    }
    for (const WeightKey &key : releases[i]) collected.erase(key);
    if (header.align() != 0 && start % header.align() != 0) {
      std::cerr << "[ERROR] Container alignment mismatch for sub-model index " << i << "\n";
      return 1;
    }
    const uint64_t size = restored.GetSize();
    blob.Place(restored, start);
    metadata.push_back({size, start, header.hash(), header.align(), NameOf(header)});
    ShowProgressBar("Restore Qdms", i + 1, headers.size());
  }
  ToolBuilder container = blob.ContainerBuilder();
  AssembleContainer(container, blob, metadata, *stripped, EmptyValueLists::kWritten);
  const uint8_t *data = container.GetBufferPointer();
  const uint64_t size = container.GetSize();
  if (WriteBufferToFile(data, size, output, "Buffer Write") != 0) {
    std::cerr << "[ERROR] Failed to write restored qdms\n";
    return 1;
  }
  if (VerifyQdmsModel(data, size, output) != 0) {
    std::cerr << "[ERROR] Verification failed for restored qdms\n";
    return 1;
  }
  std::cout << "[DONE] Restored qdms written: " << output << " (size=" << size << " bytes)\n";
  return 0;
}

bool RestoreQdmsTool::CollectSourceWeightsQdms(const std::vector<std::string> &paths, WeightDataMap &collected) {
  for (size_t s = 0; s < paths.size(); ++s) {
    const std::string &path = paths[s];
    {
      ReadOnlyMMapFile file;
      const vb::Models *source = LoadWholeContainer(file, path);
      if (source == nullptr) {
        std::cerr << "[ERROR] Invalid source qdms: " << path << "\n";
        return false;
      }
      ReadAheadForCopying(file);
      for (const vb::BinaryHeader *header : *source->model_headers()) {
        SubModelView sub_model;
        if (!sub_model.Open(*source, *header)) {
          std::cerr << "[ERROR] Sub-model verification failed in source qdms\n";
          return false;
        }
        if (!CollectSubModel(*sub_model.model(), path, collected)) return false;
      }
    }
    ShowProgressBar("Collect Source Qdms", s + 1, paths.size());
  }
  std::cout << "[INFO] Collected " << collected.size() << " unique weights from source qdms files\n";
  return true;
}

}  // namespace vadu::qdmstrip
