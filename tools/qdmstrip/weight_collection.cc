#include "weight_collection.h"

#include <iostream>

namespace vadu::qdmstrip {

RepackHeader ToRepackHeader(const binary::BinaryHeader &header) {
  RepackHeader r;
  r.offset = header.offset();
  r.size = header.size();
  r.align = header.align();
  r.hash = header.hash();
  if (header.name() != nullptr) r.name = header.name()->str();
  return r;
}

bool GatherWeightMetadata(const binary::Model *model, const WeightKeySet &shared_keys,
                          WeightCollection &collection) {
  if (model == nullptr || model->weights() == nullptr) return false;
  collection = WeightCollection{};
  for (const binary::Binary *blob : *model->weights()) {
    collection.binaries.push_back(blob);
    collection.is_raw_offset.push_back(blob->type() == binary::BinaryType_RAW_OFFSET);
    collection.binary_types.push_back(blob->type());
    collection.binary_names.push_back(blob->name() != nullptr ? blob->name()->str() : std::string());
    std::vector<const binary::Attribute *> attrs;
    if (blob->attrs() != nullptr) attrs.assign(blob->attrs()->begin(), blob->attrs()->end());
    collection.binary_attrs.push_back(std::move(attrs));

    std::vector<RepackHeader> kept;
    if (blob->headers() != nullptr) {
      for (const binary::BinaryHeader *header : *blob->headers()) {
        RepackHeader r = ToRepackHeader(*header);
        if (r.size != 0 && shared_keys.contains(KeyOf(*header))) {
          r.shared = true;
          collection.shared_headers.push_back(std::move(r));
        } else {
          kept.push_back(std::move(r));
          ++collection.non_shared_count;
        }
        ++collection.total_count;
      }
    }
    collection.kept_headers.push_back(std::move(kept));
  }
  std::cerr << "[INFO] Gathered " << collection.total_count << " total headers, " << collection.non_shared_count
            << " non-shared headers, " << collection.shared_headers.size() << " shared headers.\n";
  return true;
}

}  // namespace vadu::qdmstrip
