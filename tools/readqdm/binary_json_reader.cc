#include "binary_json_reader.h"

#include <cmath>

#include "attrs_map.h"

namespace vadu {
namespace {

picojson::value FloatArray(const flatbuffers::Vector<float> *values) {
  picojson::array array;
  if (values != nullptr) {
    for (float v : *values) array.push_back(JsonNumber(v));
  }
  return picojson::value(std::move(array));
}

}  // namespace

picojson::value JsonInteger(int64_t value) { return picojson::value(value); }

picojson::value JsonUnsigned(uint64_t value) { return picojson::value(static_cast<int64_t>(value)); }

picojson::value JsonNumber(float value) {
  if (!std::isfinite(value)) return picojson::value();
  return picojson::value(static_cast<double>(value));
}

std::string DataTypeText(const binary::DataType *dtype) {
  if (dtype == nullptr) return std::string();
  return std::string(binary::EnumNameTypeCode(dtype->code())) + std::to_string(dtype->bits());
}

void AddAttributeTexts(const TableVector<binary::Attribute> *attrs, const char *placeholder,
                       picojson::object &object) {
  const binary::AttrsMap map(attrs);
  for (const auto &[name, attr] : map.Entries()) {
    object[name] = picojson::value(binary::AttrsMap::StringValue(*attr).value_or(placeholder));
  }
}

BinaryJsonReader::~BinaryJsonReader() = default;

picojson::value BinaryJsonReader::Jv(const char *text) const {
  return picojson::value(std::string(text != nullptr ? text : ""));
}

picojson::value BinaryJsonReader::Jv(const flatbuffers::String *text) const {
  return picojson::value(text != nullptr ? text->str() : std::string());
}

picojson::value BinaryJsonReader::GetTensorInfo(const binary::TensorInfo *tensor) const {
  picojson::object info;
  if (tensor == nullptr) return picojson::value(std::move(info));
  info["name"] = Jv(tensor->name());
  info["dtype"] = picojson::value(DataTypeText(tensor->dtype()));
  info["format"] = Jv(binary::EnumNameTensorFmt(tensor->format()));
  info["shape"] = IntegerArray(tensor->shape());
  info["stride"] = IntegerArray(tensor->stride());
  info["block_layout"] = IntegerArray(tensor->block_layout());
  if (tensor->layout_stride() != nullptr) info["layout_stride"] = IntegerArray(tensor->layout_stride());
  info["mem_type"] = Jv(binary::EnumNameDeviceType(tensor->mem_type()));
  // Offsets and sub-regions only mean something outside the default device memory.
  if (tensor->mem_type() != binary::DeviceType_DEV0) {
    info["mem_offset"] = JsonUnsigned(tensor->mem_offset());
    if (tensor->sub_roi() != nullptr) info["sub_roi"] = IntegerArray(tensor->sub_roi());
    if (tensor->sub_tensor() != nullptr) info["sub_tensor"] = GetTensorInfos(tensor->sub_tensor());
  }
  return picojson::value(std::move(info));
}

picojson::value BinaryJsonReader::GetTensorInfos(const TableVector<binary::TensorInfo> *tensors) const {
  picojson::array array;
  if (tensors != nullptr) {
    for (const binary::TensorInfo *tensor : *tensors) array.push_back(GetTensorInfo(tensor));
  }
  return picojson::value(std::move(array));
}

picojson::value BinaryJsonReader::GetSubTensors(const TableVector<binary::SubTensor> *subs) const {
  picojson::array array;
  if (subs == nullptr) return picojson::value(std::move(array));
  for (const binary::SubTensor *sub : *subs) {
    picojson::object entry;
    entry["info"] = GetTensorInfo(sub->info());
    entry["rois"] = IntegerArray(sub->rois());
    entry["dev_id"] = JsonInteger(sub->dev_id());
    array.emplace_back(std::move(entry));
  }
  return picojson::value(std::move(array));
}

picojson::value BinaryJsonReader::GetBinaryInfos(const TableVector<binary::Binary> *binaries) const {
  picojson::array array;
  if (binaries == nullptr) return picojson::value(std::move(array));
  for (const binary::Binary *blob : *binaries) {
    picojson::object entry;
    entry["name"] = Jv(blob->name());
    if (blob->headers() != nullptr) {
      picojson::array headers;
      for (const binary::BinaryHeader *header : *blob->headers()) {
        picojson::object h;
        h["name"] = Jv(header->name());
        h["hash"] = JsonUnsigned(header->hash());
        h["size"] = JsonUnsigned(header->size());
        h["offset"] = JsonUnsigned(header->offset());
        headers.emplace_back(std::move(h));
      }
      entry["headers"] = picojson::value(std::move(headers));
    }
    if (blob->attrs() != nullptr) {
      picojson::object attrs;
      AddAttributeTexts(blob->attrs(), "RawData(Not support)", attrs);
      entry["attrs"] = picojson::value(std::move(attrs));
    }
    array.emplace_back(std::move(entry));
  }
  return picojson::value(std::move(array));
}

picojson::value BinaryJsonReader::GetQuantInfos(const TableVector<binary::TensorQuant> *quants) const {
  picojson::object object;
  if (quants == nullptr) return picojson::value(std::move(object));
  for (const binary::TensorQuant *quant : *quants) {
    picojson::object entry;
    entry["scale"] = FloatArray(quant->scale());
    entry["zero_point"] = FloatArray(quant->zero_point());
    entry["block_shape"] = IntegerArray(quant->block_shape());
    entry["min"] = JsonNumber(quant->min());
    entry["max"] = JsonNumber(quant->max());
    object[quant->name() != nullptr ? quant->name()->str() : std::string()] = picojson::value(std::move(entry));
  }
  return picojson::value(std::move(object));
}

picojson::value BinaryJsonReader::GetAttribute(const TableVector<binary::Attribute> *attrs) const {
  picojson::object object;
  AddAttributeTexts(attrs, "", object);
  return picojson::value(std::move(object));
}

}  // namespace vadu
