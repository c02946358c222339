#include "strip_qdms_weight.h"

#include <iostream>

#include "allocation_failure.h"
#include "mapped_pages.h"
#include "progress_bar.h"
#include "sub_model_view.h"
#include "vadu_mmap.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;

}  // namespace

int StripQdmsRun(const std::vector<std::string> &inputs, const std::string &output) {
  return RunReportingAllocationFailure([&] {
    StripQdmsTool tool;
    return tool.Run(inputs, output);
  });
}

int StripQdmsTool::Run(const std::vector<std::string> &inputs, const std::string &output) {
  WeightKeySet shared;
  if (!InitSharedWeightsQdms(inputs, shared)) return 1;
  if (!IntersectSharedWeightsQdms(inputs, shared)) return 1;

  // Stays mapped until the container is written: the sub-models and the graph are read from it.
  ReadOnlyMMapFile last_file;
  const vb::Models *last = LoadModelsFromFile(last_file, inputs.back());
  if (last == nullptr || last->model_headers() == nullptr || last->model_data() == nullptr) return 1;
  ReadAheadForCopying(last_file);

  const auto &headers = *last->model_headers();
  ContainerBlob blob(ContainerHeadroom(*last));
  std::vector<ModelHeaderMetadata> metadata;
  for (uint32_t i = 0; i < headers.size(); ++i) {
    const vb::BinaryHeader &header = *headers.Get(i);
    SubModelView sub_model;
    if (!sub_model.Open(*last, header)) {
      std::cerr << "[ERROR] Original sub-model verify failed for index " << i << "\n";
      return 1;
    }
    // Built where it will lie in the new container, so it is never copied into a buffer of its own.
    const uint64_t start = blob.NextStart(header.align());
    ToolBuilder rebuilt = blob.SubModelBuilder(start);
    if (!RebuildSubModel(sub_model.model(), shared, rebuilt)) return 1;
    const uint64_t size = rebuilt.GetSize();
    blob.Place(rebuilt, start);
    metadata.push_back({size, start, header.hash(), header.align(),
                        header.name() != nullptr ? header.name()->str() : std::string()});
    ShowProgressBar("Rebuild qdms", i + 1, headers.size());
  }

  ToolBuilder container = blob.ContainerBuilder();
  AssembleContainer(container, blob, metadata, *last, EmptyValueLists::kLeftOut);
  const uint8_t *data = container.GetBufferPointer();
  const uint64_t size = container.GetSize();
  if (WriteBufferToFile(data, size, output, "Buffer Write") != 0) {
    std::cerr << "[ERROR] Failed to write models container\n";
    return 1;
  }
  if (VerifyQdmsModel(data, size, output) != 0) {
    std::cerr << "[ERROR] Verification failed for models container\n";
    return 1;
  }
  return 0;
}

bool StripQdmsTool::CollectQdmsWeightKeys(const vb::Models *container, WeightKeySet &keys, const std::string &path) {
  if (container == nullptr || container->model_headers() == nullptr || container->model_data() == nullptr) {
    return false;
  }
  const auto &headers = *container->model_headers();
  for (uint32_t i = 0; i < headers.size(); ++i) {
    SubModelView sub_model;
    if (!sub_model.Open(*container, *headers.Get(i))) {
      std::cerr << "[ERROR] Invalid sub-model " << i << " in models container: " << path << "\n";
      return false;
    }
    AddWeightKeys(*sub_model.model(), keys);
  }
  return true;
}

bool StripQdmsTool::InitSharedWeightsQdms(const std::vector<std::string> &inputs, WeightKeySet &shared) {
  ReadOnlyMMapFile file;
  const vb::Models *first = LoadModelsFromFile(file, inputs.front());
  if (first == nullptr) return false;
  if (!CollectQdmsWeightKeys(first, shared, inputs.front())) return false;
  std::cout << "[INFO] Init shared weights = " << shared.size() << "\n";
  ShowProgressBar("Init Qdms", 1, inputs.size() - 1);
  return true;
}

bool StripQdmsTool::IntersectSharedWeightsQdms(const std::vector<std::string> &inputs, WeightKeySet &shared) {
  if (inputs.size() >= 3) {
    for (size_t k = 1; k + 1 < inputs.size(); ++k) {
      ReadOnlyMMapFile file;
      const vb::Models *container = LoadModelsFromFile(file, inputs[k]);
      if (container == nullptr) return false;
      WeightKeySet keys;
      if (!CollectQdmsWeightKeys(container, keys, inputs[k])) return false;
      KeepCommonKeys(shared, keys);
      ShowProgressBar("Intersect Qdms", k, inputs.size() - 1);
    }
  }
  std::cout << "[INFO] Shared keys after intersection: " << shared.size() << "\n";
  return true;
}

}  // namespace vadu::qdmstrip
