#include "attrs_map.h"

#include "vadu_log.h"

namespace vadu::binary {
namespace {

std::string NameOf(const Attribute &attr) {
  return attr.name() != nullptr ? attr.name()->str() : std::string();
}

// How an attribute's value reads in the "[Model] " log lines.
std::string DescribeValue(const Attribute &attr) {
  if (std::optional<std::string> text = AttrsMap::StringValue(attr)) return *text;
  return attr.value_type() == AttrValue_AttrByte ? "byte_data" : "unknown_type";
}

}  // namespace

AttrsMap::AttrsMap(const AttributeVector *attrs) : attrs_(attrs) {
  if (attrs_ == nullptr) return;
  for (const Attribute *attr : *attrs_) {
    VADU_TAG_LOG_INFO("Model") << NameOf(*attr) << ": " << DescribeValue(*attr);
  }
  for (const Attribute *attr : *attrs_) map_[NameOf(*attr)] = attr;
}

std::optional<std::string> AttrsMap::StringValue(const Attribute &attr) {
  if (attr.value_type() != AttrValue_str) return std::nullopt;
  const flatbuffers::String *text = attr.value_as_str();
  return text != nullptr ? text->str() : std::string();
}

}  // namespace vadu::binary
