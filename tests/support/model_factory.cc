#include "model_factory.h"

#include <fstream>
#include <stdexcept>

#include <flatbuffers/flatbuffers.h>

#include "qdms_generated.h"

namespace vadu::testing {
namespace fb = ::flatbuffers;
namespace vb = ::vadu::binary;

uint64_t AlignedStart(uint64_t position, uint32_t align) {
  const uint64_t a = align == 0 ? 64 : align;
  return (position + a - 1) / a * a;
}

namespace {

using Builder = fb::FlatBufferBuilder64;
template <typename T>
using Off = fb::Offset<T>;
template <typename T>
using OffVec = fb::Offset<fb::Vector<fb::Offset<T>>>;

// Appends `bytes` to `blob` at the aligned position and returns that offset.
uint64_t Place(Bytes &blob, const Bytes &bytes, uint32_t align) {
  const uint64_t start = AlignedStart(blob.size(), align);
  blob.resize(start, 0);
  blob.insert(blob.end(), bytes.begin(), bytes.end());
  return start;
}

// Item offsets of one blob laid out by the alignment rule into `blob`.
std::vector<uint64_t> LayOut(const std::vector<ItemSpec> &items, Bytes &blob) {
  std::vector<uint64_t> offsets;
  for (const ItemSpec &item : items) {
    offsets.push_back(item.offset ? *item.offset : Place(blob, item.bytes, item.align));
  }
  return offsets;
}

template <typename T>
fb::Offset<fb::Vector<T>> VectorOrNull(Builder &fbb, const std::vector<T> &values) {
  return values.empty() ? 0 : fbb.CreateVector(values);
}

Off<fb::String> StringOrNull(Builder &fbb, const std::optional<std::string> &text) {
  return text ? fbb.CreateString(*text) : 0;
}

Off<fb::String> StringOrNull(Builder &fbb, const std::string &text) {
  return text.empty() ? 0 : fbb.CreateString(text);
}

vb::DataType ToDataType(const DataTypeSpec &d) {
  return vb::DataType(static_cast<vb::TypeCode>(d.code), d.bits, d.lanes);
}

Off<vb::Attribute> BuildAttr(Builder &fbb, const AttrSpec &a) {
  auto name = StringOrNull(fbb, a.name);
  vb::AttrValue type = vb::AttrValue_NONE;
  Off<void> value = 0;
  switch (a.kind) {
    case AttrSpec::Kind::kNone:
      break;
    case AttrSpec::Kind::kString:
      type = vb::AttrValue_str;
      if (!a.value_absent) value = fbb.CreateString(a.text).Union();
      break;
    case AttrSpec::Kind::kBytes: {
      type = vb::AttrValue_AttrByte;
      if (!a.value_absent) {
        auto data = fbb.CreateVector(a.bytes);
        std::optional<vb::DataType> dtype;
        if (a.bytes_dtype) dtype = ToDataType(*a.bytes_dtype);
        value = vb::CreateAttrByte(fbb, data, dtype ? &*dtype : nullptr).Union();
      }
      break;
    }
    case AttrSpec::Kind::kUndefined:
      type = static_cast<vb::AttrValue>(7);
      value = fbb.CreateString(a.text).Union();
      break;
  }
  return vb::CreateAttribute(fbb, name, type, value);
}

OffVec<vb::Attribute> BuildAttrs(Builder &fbb, const std::vector<AttrSpec> &attrs) {
  if (attrs.empty()) return 0;
  std::vector<Off<vb::Attribute>> built;
  for (const AttrSpec &a : attrs) built.push_back(BuildAttr(fbb, a));
  return fbb.CreateVector(built);
}

Off<vb::TensorInfo> BuildTensor(Builder &fbb, const TensorSpec &t) {
  OffVec<vb::TensorInfo> subs = 0;
  if (!t.sub_tensors.empty()) {
    std::vector<Off<vb::TensorInfo>> built;
    for (const TensorSpec &s : t.sub_tensors) built.push_back(BuildTensor(fbb, s));
    subs = fbb.CreateVector(built);
  }
  auto name = StringOrNull(fbb, t.name);
  auto shape = VectorOrNull(fbb, t.shape);
  auto stride = VectorOrNull(fbb, t.stride);
  auto block_layout = VectorOrNull(fbb, t.block_layout);
  auto layout_stride = VectorOrNull(fbb, t.layout_stride);
  auto aux_name = StringOrNull(fbb, t.aux_name);
  auto sub_roi = VectorOrNull(fbb, t.sub_roi);
  std::optional<vb::DataType> dtype;
  if (t.dtype) dtype = ToDataType(*t.dtype);
  return vb::CreateTensorInfo(fbb, static_cast<vb::TensorFmt>(t.format), dtype ? &*dtype : nullptr, name,
                              shape, t.size, stride, block_layout, layout_stride,
                              static_cast<vb::DeviceType>(t.mem_type), aux_name, t.mem_offset, subs, sub_roi);
}

OffVec<vb::TensorInfo> BuildTensors(Builder &fbb, const std::vector<TensorSpec> &tensors) {
  if (tensors.empty()) return 0;
  std::vector<Off<vb::TensorInfo>> built;
  for (const TensorSpec &t : tensors) built.push_back(BuildTensor(fbb, t));
  return fbb.CreateVector(built);
}

Off<vb::TensorQuant> BuildQuant(Builder &fbb, const QuantSpec &q) {
  auto name = StringOrNull(fbb, q.name);
  auto scale = VectorOrNull(fbb, q.scale);
  auto zero_point = VectorOrNull(fbb, q.zero_point);
  auto block_shape = VectorOrNull(fbb, q.block_shape);
  return vb::CreateTensorQuant(fbb, name, scale, zero_point, block_shape, q.min, q.max);
}

OffVec<vb::TensorQuant> BuildQuants(Builder &fbb, const std::vector<QuantSpec> &quants) {
  std::vector<Off<vb::TensorQuant>> built;
  for (const QuantSpec &q : quants) built.push_back(BuildQuant(fbb, q));
  return fbb.CreateVector(built);
}

// `data` is the vector of another blob when not null; else one is made from `own_data`, if any, and set.
Off<vb::Binary> BuildBinary(Builder &fbb, const BinarySpec &b, const std::vector<uint64_t> &offsets,
                            const Bytes *own_data, Off<fb::Vector<uint8_t>> &data) {
  std::vector<Off<vb::BinaryHeader>> headers;
  for (size_t i = 0; i < b.items.size(); ++i) {
    const ItemSpec &item = b.items[i];
    auto name = StringOrNull(fbb, item.name);
    vb::BinaryHeaderBuilder hb(fbb);
    hb.add_size(item.size ? *item.size : item.bytes.size());
    hb.add_offset(offsets[i]);
    if (item.has_hash) hb.add_hash(item.hash);
    hb.add_align(item.align);
    if (!name.IsNull()) hb.add_name(name);
    headers.push_back(hb.Finish());
  }
  if (data.IsNull() && own_data != nullptr) data = fbb.CreateVector(*own_data);
  auto header_vec = b.has_headers ? fbb.CreateVector(headers) : 0;
  auto name = StringOrNull(fbb, b.name);
  auto attrs = BuildAttrs(fbb, b.attrs);
  return vb::CreateBinary(fbb, data, header_vec, static_cast<vb::BinaryType>(b.type), name, attrs);
}

// Builds a list of blobs; RAW_OFFSET items go into `raw`, the others into their own data.
struct BlobLayout {
  std::vector<std::vector<uint64_t>> offsets;
  std::vector<Bytes> own_data;
};

BlobLayout LayOutBlobs(const std::vector<BinarySpec> &blobs, Bytes &raw) {
  BlobLayout layout;
  for (const BinarySpec &b : blobs) {
    Bytes own;
    layout.offsets.push_back(LayOut(b.items, b.type == vb::BinaryType_RAW_OFFSET ? raw : own));
    layout.own_data.push_back(std::move(own));
  }
  return layout;
}

OffVec<vb::Binary> BuildBinaries(Builder &fbb, const std::vector<BinarySpec> &blobs, const BlobLayout &layout) {
  if (blobs.empty()) return 0;
  std::vector<Off<vb::Binary>> built;
  std::vector<Off<fb::Vector<uint8_t>>> data(blobs.size());
  for (size_t i = 0; i < blobs.size(); ++i) {
    const bool own = blobs[i].type != vb::BinaryType_RAW_OFFSET && blobs[i].has_data;
    if (blobs[i].data_of) data[i] = data.at(*blobs[i].data_of);
    built.push_back(BuildBinary(fbb, blobs[i], layout.offsets[i], own ? &layout.own_data[i] : nullptr, data[i]));
  }
  return fbb.CreateVector(built);
}

Off<vb::ValueDef> BuildValue(Builder &fbb, const ValueSpec &v) {
  auto info = v.info ? BuildTensor(fbb, *v.info) : 0;
  auto attrs = BuildAttrs(fbb, v.attrs);
  OffVec<vb::SubTensor> subs = 0;
  if (!v.sub_dev_tensors.empty() || v.write_empty_sub_dev_tensors) {
    std::vector<Off<vb::SubTensor>> built;
    for (const ValueSpec::Sub &s : v.sub_dev_tensors) {
      auto sub_info = s.info ? BuildTensor(fbb, *s.info) : 0;
      auto rois = VectorOrNull(fbb, s.rois);
      built.push_back(vb::CreateSubTensor(fbb, sub_info, rois, s.dev_id));
    }
    subs = fbb.CreateVector(built);
  }
  return vb::CreateValueDef(fbb, info, static_cast<vb::DeviceType>(v.dev_type), attrs, subs);
}

OffVec<vb::ValueDef> BuildValues(Builder &fbb, const std::vector<ValueSpec> &values) {
  if (values.empty()) return 0;
  std::vector<Off<vb::ValueDef>> built;
  for (const ValueSpec &v : values) built.push_back(BuildValue(fbb, v));
  return fbb.CreateVector(built);
}

Off<void> BuildBlockAttr(Builder &fbb, const OperationSpec &op) {
  if (op.block_value_absent) return 0;
  switch (op.block_attr_type) {
    case 1:
      return vb::CreateParallelBlockAttribute(fbb, op.dev_id).Union();
    case 2: {
      auto quants = op.quant_infos.empty() ? 0 : BuildQuants(fbb, op.quant_infos);
      fb::Offset<fb::Vector<fb::Offset<fb::String>>> names = 0;
      if (!op.quant_names.empty()) names = fbb.CreateVectorOfStrings(op.quant_names);
      return vb::CreateFuncBlockAttribute(fbb, op.dim, quants, names).Union();
    }
    default:
      return 0;
  }
}

Off<void> BuildSpecAttr(Builder &fbb, const OperationSpec &op) {
  if (op.spec_value_absent) return 0;
  switch (op.spec_type) {
    case 0:
      return 0;
    case 1:
      return vb::CreateParallelAttribute(fbb, VectorOrNull(fbb, op.axes)).Union();
    case 2: {
      auto kernel = StringOrNull(fbb, op.kernel_name);
      auto mask = VectorOrNull(fbb, op.kernel_group_mask);
      return vb::CreateLaunchAttribute(fbb, kernel, op.kernel_indx, mask, op.kernel_group_id).Union();
    }
    case 3:
      return vb::CreateAllGatherAttribute(fbb, op.dim).Union();
    case 4:
      return vb::CreateSyncAttribute(fbb).Union();
    case 5:
      return vb::CreateSubTensorAttribute(fbb, op.dev_id).Union();
    case 6: {
      auto inner = BuildBlockAttr(fbb, op);
      return vb::CreateBlockAttribute(fbb, static_cast<vb::BlockType>(op.block_type),
                                      static_cast<vb::BlockSpecificAttribute>(op.block_attr_type), inner)
          .Union();
    }
    default:
      return vb::CreateSyncAttribute(fbb).Union();
  }
}

Off<vb::Operation> BuildOperation(Builder &fbb, const OperationSpec &op) {
  auto oprands = BuildValues(fbb, op.oprands);
  auto results = BuildValues(fbb, op.results);
  auto attrs = BuildAttrs(fbb, op.attrs);
  auto spec = BuildSpecAttr(fbb, op);
  return vb::CreateOperation(fbb, static_cast<vb::OpType>(op.op_type), oprands, results, attrs,
                             static_cast<vb::SpecificAttribute>(op.spec_type), spec);
}

Bytes Finished(Builder &fbb) {
  return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

}  // namespace

Bytes BuildModel(const ModelSpec &spec) {
  Builder fbb(1024);
  // Vtable sharing miscompares once a 64-bit vector exists, so every table gets its own.
  fbb.DedupVtables(false);
  Bytes raw;
  const BlobLayout kernel_layout = LayOutBlobs(spec.kernels, raw);
  const BlobLayout weight_layout = LayOutBlobs(spec.weights, raw);
  raw.insert(raw.end(), spec.extra_raw_tail.begin(), spec.extra_raw_tail.end());

  // The 64-bit vector must be the first object of the buffer.
  fb::Offset64<fb::Vector64<uint8_t>> raw_data = 0;
  if (!raw.empty() || spec.force_raw_data) raw_data = fbb.CreateVector64(raw);

  fb::Offset<vb::ModelVersion> version = 0;
  if (spec.has_version) version = vb::CreateModelVersion(fbb, spec.magic, spec.version);
  auto name = StringOrNull(fbb, spec.name);
  auto custom_msg = StringOrNull(fbb, spec.custom_msg);
  auto kernels = BuildBinaries(fbb, spec.kernels, kernel_layout);
  auto weights = BuildBinaries(fbb, spec.weights, weight_layout);
  fb::Offset<fb::Vector<const vb::Buffer *>> workspace = 0;
  if (!spec.workspace.empty()) {
    std::vector<vb::Buffer> buffers;
    for (const WorkspaceSpec &w : spec.workspace) buffers.emplace_back(w.offset, w.size, w.extra0, w.extra1);
    workspace = fbb.CreateVectorOfStructs(buffers);
  }
  auto inputs = BuildTensors(fbb, spec.inputs);
  auto outputs = BuildTensors(fbb, spec.outputs);
  auto quant = spec.quant_info ? BuildQuants(fbb, *spec.quant_info) : 0;
  fb::Offset<vb::ModelConfig> config = 0;
  if (spec.config) {
    const ConfigSpec &c = *spec.config;
    config = vb::CreateModelConfig(fbb, c.args_num, c.core_num, c.tile_num, c.option_word, c.option_flag_a,
                                   c.option_flag_b, c.option_flag_c, c.batch_num, c.pack_inout);
  }
  auto attrs = BuildAttrs(fbb, spec.attrs);
  auto model = vb::CreateModel(fbb, version, name, custom_msg, kernels, weights, workspace, inputs, outputs, quant,
                               config, attrs, raw_data);
  vb::FinishModelBuffer(fbb, model);
  return Finished(fbb);
}

Bytes BuildContainer(const ContainerSpec &spec) {
  Builder fbb(1024);
  // Vtable sharing miscompares once a 64-bit vector exists, so every table gets its own.
  fbb.DedupVtables(false);
  Bytes data;
  std::vector<uint64_t> offsets;
  for (const SubModelSpec &m : spec.models) offsets.push_back(Place(data, m.bytes, m.align));

  fb::Offset64<fb::Vector64<uint8_t>> model_data = 0;
  if (spec.has_model_data) model_data = fbb.CreateVector64(data);
  std::vector<Off<vb::BinaryHeader>> headers;
  for (size_t i = 0; i < spec.models.size(); ++i) {
    const SubModelSpec &m = spec.models[i];
    auto name = StringOrNull(fbb, m.name);
    headers.push_back(vb::CreateBinaryHeader(fbb, m.size ? *m.size : m.bytes.size(),
                                             m.offset ? *m.offset : offsets[i], m.hash, m.align, name));
  }
  OffVec<vb::BinaryHeader> header_vec = 0;
  if (spec.has_model_headers) header_vec = fbb.CreateVector(headers);
  OffVec<vb::ModelDevice> devices = 0;
  if (!spec.devices.empty()) {
    std::vector<Off<vb::ModelDevice>> built;
    for (const DeviceSpec &d : spec.devices)
      built.push_back(vb::CreateModelDevice(fbb, StringOrNull(fbb, d.backend_name), d.device_id));
    devices = fbb.CreateVector(built);
  }
  auto inputs = BuildValues(fbb, spec.inputs);
  auto outputs = BuildValues(fbb, spec.outputs);
  OffVec<vb::Operation> operations = 0;
  if (!spec.operations.empty()) {
    std::vector<Off<vb::Operation>> built;
    for (const OperationSpec &op : spec.operations) built.push_back(BuildOperation(fbb, op));
    operations = fbb.CreateVector(built);
  }
  auto attrs = BuildAttrs(fbb, spec.attrs);
  auto models = vb::CreateModels(fbb, model_data, header_vec, devices, inputs, outputs, operations, attrs);
  vb::FinishModelsBuffer(fbb, models);
  return Finished(fbb);
}

ItemSpec Weight(const std::string &name, uint64_t hash, size_t size, uint8_t fill, uint32_t align) {
  ItemSpec item;
  item.name = name;
  item.hash = hash;
  item.align = align;
  item.bytes.resize(size);
  for (size_t i = 0; i < size; ++i) item.bytes[i] = static_cast<uint8_t>(fill + i * 7);
  return item;
}

ModelSpec SimpleModel(const std::string &name, const std::vector<ItemSpec> &raw_weights) {
  ModelSpec spec;
  spec.name = name;
  BinarySpec blob;
  blob.name = "weights";
  blob.type = vb::BinaryType_RAW_OFFSET;
  blob.items = raw_weights;
  spec.weights.push_back(blob);
  TensorSpec in;
  in.name = "input";
  in.shape = {1, 3, 8, 8};
  in.size = 1 * 3 * 8 * 8 * 4;
  spec.inputs.push_back(in);
  TensorSpec out;
  out.name = "output";
  out.shape = {1, 10};
  out.size = 40;
  spec.outputs.push_back(out);
  return spec;
}

void WriteFile(const std::filesystem::path &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// One sized read: byte by byte, the round-trip tests' large files take minutes
// under the sanitizers.
Bytes ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  Bytes bytes(ec ? 0 : size);  // what has no size (a directory) reads as empty
  in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));  // a file that shrank meanwhile: what there was
  return bytes;
}

}  // namespace vadu::testing
