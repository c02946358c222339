#include "qdms_reader.h"

#include <cstring>
#include <memory>

#include "model_verifier.h"
#include "qdm_reader.h"

namespace vadu {

QdmsReader::~QdmsReader() = default;

bool QdmsReader::ParseToJson(const void *data, size_t size) {
  const auto *bytes = static_cast<const uint8_t *>(data);
  if (!binary::VerifyModelsRoot(bytes, size)) return false;
  const binary::Models *models = binary::GetModels(bytes);
  picojson::object document;
  document["models"] = GetQdmModel(models->model_data(), models->model_headers());
  document["devices"] = GetDevices(models->devices());
  document["operations"] = GetOperation(models->operations());
  document["input"] = GetValues(models->inputs());
  document["output"] = GetValues(models->outputs());
  document["info"] = GetAttribute(models->attrs());
  // Taken after the operations: converting their blocks fills it.
  document["quant_info"] = picojson::value(quant_info_);
  json = picojson::value(std::move(document));
  return true;
}

picojson::value QdmsReader::GetQdmModel(const flatbuffers::Vector64<uint8_t> *model_data,
                                        const TableVector<binary::BinaryHeader> *headers) const {
  picojson::object sub_models;
  if (model_data == nullptr || headers == nullptr) return picojson::value(std::move(sub_models));
  const uint64_t length = model_data->size();
  for (const binary::BinaryHeader *header : *headers) {
    const uint64_t offset = header->offset();
    const uint64_t size = header->size();
    // Compared without wrap-around, so a sub-model is never read outside the container.
    if (offset > length || size > length - offset) continue;
    const uint8_t *start = model_data->data() + offset;
    // A sub-model placed at an odd alignment is read from an aligned copy, so
    // that no scalar of it is loaded from a misaligned address.
    std::unique_ptr<uint64_t[]> aligned_copy;
    if (reinterpret_cast<uintptr_t>(start) % alignof(uint64_t) != 0) {
      aligned_copy = std::make_unique<uint64_t[]>((size + 7) / 8);
      std::memcpy(aligned_copy.get(), start, size);
      start = reinterpret_cast<const uint8_t *>(aligned_copy.get());
    }
    QdmReader reader;
    if (!reader.ParseToJson(start, size)) continue;
    sub_models[header->name() != nullptr ? header->name()->str() : std::string()] = reader.json;
  }
  return picojson::value(std::move(sub_models));
}

picojson::value QdmsReader::GetDevices(const TableVector<binary::ModelDevice> *devices) const {
  picojson::array array;
  if (devices == nullptr) return picojson::value(std::move(array));
  for (const binary::ModelDevice *device : *devices) {
    picojson::object entry;
    entry["backend_name"] = Jv(device->backend_name());
    entry["device_id"] = JsonInteger(device->device_id());
    array.emplace_back(std::move(entry));
  }
  return picojson::value(std::move(array));
}

picojson::value QdmsReader::GetValues(const TableVector<binary::ValueDef> *values) const {
  picojson::array array;
  if (values == nullptr) return picojson::value(std::move(array));
  for (const binary::ValueDef *value : *values) {
    picojson::object entry;
    entry["info"] = GetTensorInfo(value->info());
    entry["dev_type"] = Jv(binary::EnumNameDeviceType(value->dev_type()));
    entry["attrs"] = GetAttribute(value->attrs());
    // The table's address identifies it: operands and graph values that are one table show one number.
    entry["void_ptr"] = JsonUnsigned(reinterpret_cast<uintptr_t>(value));
    if (value->sub_dev_tensors() != nullptr && value->sub_dev_tensors()->size() != 0) {
      entry["sub_dev_tensors"] = GetSubTensors(value->sub_dev_tensors());
    }
    array.emplace_back(std::move(entry));
  }
  return picojson::value(std::move(array));
}

picojson::value QdmsReader::GetOperation(const TableVector<binary::Operation> *operations) const {
  picojson::array array;
  if (operations == nullptr) return picojson::value(std::move(array));
  for (const binary::Operation *op : *operations) {
    picojson::object entry;
    entry["op_type"] = Jv(binary::EnumNameOpType(op->op_type()));
    entry["oprands"] = GetValues(op->oprands());
    entry["results"] = GetValues(op->results());
    entry["attrs"] = GetAttribute(op->attrs());
    if (std::optional<picojson::value> spec = SpecAttrOf(*op)) entry["spec_attr"] = std::move(*spec);
    array.emplace_back(std::move(entry));
  }
  return picojson::value(std::move(array));
}

// The attribute is chosen by the operation type; a member of another type, or
// none, reads as the expected attribute with its schema defaults.
std::optional<picojson::value> QdmsReader::SpecAttrOf(const binary::Operation &op) const {
  picojson::object object;
  switch (op.op_type()) {
    case binary::OpType_Parallel: {
      const binary::ParallelAttribute *attr = op.spec_attr_as_ParallelAttribute();
      object["axes"] = IntegerArray(attr != nullptr ? attr->axes() : nullptr);
      return picojson::value(std::move(object));
    }
    case binary::OpType_Launch:
      return GetSpecAttr(op.spec_attr_as_LaunchAttribute());
    case binary::OpType_AllGather: {
      const binary::AllGatherAttribute *attr = op.spec_attr_as_AllGatherAttribute();
      object["dim"] = JsonInteger(attr != nullptr ? attr->dim() : 0);
      return picojson::value(std::move(object));
    }
    case binary::OpType_SubTensor: {
      const binary::SubTensorAttribute *attr = op.spec_attr_as_SubTensorAttribute();
      object["dev_id"] = JsonInteger(attr != nullptr ? attr->dev_id() : 0);
      return picojson::value(std::move(object));
    }
    case binary::OpType_BlockStart:
      return GetSpecAttr(op.spec_attr_as_BlockAttribute());
    default:
      return std::nullopt;
  }
}

picojson::value QdmsReader::GetSpecAttr(const binary::LaunchAttribute *launch) const {
  picojson::object object;
  object["kernel_name"] = Jv(launch != nullptr ? launch->kernel_name() : nullptr);
  object["kernel_indx"] = JsonInteger(launch != nullptr ? launch->kernel_indx() : 0);
  if (launch != nullptr && launch->kernel_group_mask() != nullptr) {
    object["kernel_group_mask"] = IntegerArray(launch->kernel_group_mask());
  }
  object["kernel_group_id"] = JsonInteger(launch != nullptr ? launch->kernel_group_id() : -1);
  return picojson::value(std::move(object));
}

picojson::value QdmsReader::GetSpecAttr(const binary::BlockAttribute *block) const {
  picojson::object object;
  if (block == nullptr) return picojson::value(std::move(object));
  object["block_type"] = Jv(binary::EnumNameBlockType(block->block_type()));
  switch (block->block_type()) {
    case binary::BlockType_Function: {
      const binary::FuncBlockAttribute *func = block->block_attr_as_FuncBlockAttribute();
      const auto *quants = func != nullptr ? func->quant_infos() : nullptr;
      picojson::array names;
      if (func != nullptr && func->quant_names() != nullptr) {
        for (const flatbuffers::String *name : *func->quant_names()) names.push_back(Jv(name));
      }
      object["dim"] = JsonInteger(func != nullptr ? func->dim() : 0);
      object["quant_infos"] = GetQuantInfos(quants);
      object["quant_names"] = picojson::value(std::move(names));
      const picojson::value collected = GetQuantInfos(quants);
      for (const auto &[name, entry] : collected.get<picojson::object>()) quant_info_.emplace(name, entry);
      break;
    }
    case binary::BlockType_Parallel: {
      const binary::ParallelBlockAttribute *parallel = block->block_attr_as_ParallelBlockAttribute();
      object["dev_id"] = JsonInteger(parallel != nullptr ? parallel->dev_id() : 0);
      break;
    }
    default:
      break;
  }
  return picojson::value(std::move(object));
}

}  // namespace vadu
