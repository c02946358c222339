// Reader of a container: accepts the bytes when the container schema verifies
// them, describes every sub-model with a single-model reader and converts the
// container's own graph.
#pragma once

#include <optional>

#include "binary_json_reader.h"

namespace vadu {

class QdmsReader : public BinaryJsonReader {
 public:
  bool ParseToJson(const void *data, size_t size) override;
  ~QdmsReader() override;

  // Sub-model name to its document; a sub-model that does not verify, or whose
  // range lies outside `model_data`, is left out.
  picojson::value GetQdmModel(const flatbuffers::Vector64<uint8_t> *model_data,
                              const TableVector<binary::BinaryHeader> *headers) const;
  picojson::value GetDevices(const TableVector<binary::ModelDevice> *devices) const;
  picojson::value GetOperation(const TableVector<binary::Operation> *operations) const;
  picojson::value GetValues(const TableVector<binary::ValueDef> *values) const;
  picojson::value GetSpecAttr(const binary::LaunchAttribute *launch) const;
  // Also collects the block's quantisation entries; the first block that
  // describes a tensor keeps it.
  picojson::value GetSpecAttr(const binary::BlockAttribute *block) const;

 private:
  // Absent only when the operation type has no attribute to show.
  std::optional<picojson::value> SpecAttrOf(const binary::Operation &op) const;

  mutable picojson::object quant_info_;
};

}  // namespace vadu
