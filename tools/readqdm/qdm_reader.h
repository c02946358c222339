// Reader of a single-model file: accepts the bytes when the single-model
// schema verifies them and describes the model as one JSON object.
#pragma once

#include "binary_json_reader.h"
#include "model_manager.h"

namespace vadu {

class QdmReader : public BinaryJsonReader {
 public:
  bool ParseToJson(const void *data, size_t size) override;
  ~QdmReader() override;

  picojson::value GetModelInfo(const binary::Model *model) const;
  // An estimate of device memory: every item rounded up to 64 bytes.
  picojson::value GetMemoryUsage(const binary::Model *model) const;

 private:
  [[maybe_unused]] binary::ModelManager model_manager_;  // carried, never used
};

}  // namespace vadu
