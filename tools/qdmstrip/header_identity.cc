#include "header_identity.h"

namespace vadu::qdmstrip {

HeaderIdentity IdentityOf(const binary::BinaryHeader &header) {
  HeaderIdentity id{header.hash(), header.size(), {}, header.align()};
  if (header.name() != nullptr) id.name = header.name()->str();
  return id;
}

FirstRecordIndex::FirstRecordIndex(const std::vector<RepackHeader> &records) {
  for (const RepackHeader &r : records) first_.try_emplace(IdentityOf(r), &r);
}

const RepackHeader *FirstRecordIndex::Find(const HeaderIdentity &id) const {
  const auto it = first_.find(id);
  return it == first_.end() ? nullptr : it->second;
}

}  // namespace vadu::qdmstrip
