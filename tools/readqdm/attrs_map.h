// Name index over a vector of attributes: a later attribute of the same name
// replaces an earlier one, and names iterate in byte-wise ascending order.
#pragma once

#include <map>
#include <optional>
#include <string>

#include <flatbuffers/flatbuffers.h>

#include "qdm_generated.h"

namespace vadu::binary {

using AttributeVector = flatbuffers::Vector<flatbuffers::Offset<Attribute>>;

class AttrsMap {
 public:
  // `attrs` may be null, which gives an empty map.
  explicit AttrsMap(const AttributeVector *attrs);

  const std::map<std::string, const Attribute *> &Entries() const { return map_; }

  // The text of a string attribute ("" when the string itself is absent);
  // nothing for any other value type.
  static std::optional<std::string> StringValue(const Attribute &attr);

 private:
  const AttributeVector *attrs_;
  std::map<std::string, const Attribute *> map_;
};

}  // namespace vadu::binary
