// Builds single-model (.qdm) and container (.qdms) buffers for tests and demos
// from a compact description. Writers follow the format's rules: raw_data or
// model_data is created first, items are placed by the raw-data alignment rule
// (the next multiple of align, 64 for align 0, gaps zero-filled), and the
// buffer has no size prefix.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vadu::testing {

using Bytes = std::vector<uint8_t>;

// Where an item lands with the raw-data alignment rule after `position` bytes.
uint64_t AlignedStart(uint64_t position, uint32_t align);

struct DataTypeSpec {
  uint8_t code = 2;  // FLOAT
  uint8_t bits = 32;
  int16_t lanes = 1;
};

struct AttrSpec {
  enum class Kind { kNone, kString, kBytes, kUndefined };
  std::string name;
  Kind kind = Kind::kString;
  std::string text;          // kString
  Bytes bytes;               // kBytes
  std::optional<DataTypeSpec> bytes_dtype;
  bool value_absent = false; // a type byte without a value
};

// One item of a Binary. Its offset is computed from the layout unless given.
struct ItemSpec {
  std::string name;
  Bytes bytes;
  uint64_t hash = 0;
  uint32_t align = 0;
  std::optional<uint64_t> size;    // header size; defaults to bytes.size()
  std::optional<uint64_t> offset;  // header offset; bytes are then not placed
  bool has_hash = true;            // false leaves the hash field unwritten
};

struct BinarySpec {
  std::string name;
  int32_t type = 0;  // 0 EMBEDDED, 3 RAW_OFFSET, anything else addresses own data
  std::vector<ItemSpec> items;
  std::vector<AttrSpec> attrs;
  bool has_data = true;  // false leaves an embedded blob without a data vector
  bool has_headers = true;  // false leaves the blob without a headers vector
  // The data vector of the blob at this index of the same list (an earlier
  // one) instead of one of its own; items then give their offsets into it.
  std::optional<size_t> data_of;
};

struct TensorSpec {
  std::string name;
  int32_t format = 5;  // FMT_ND
  std::optional<DataTypeSpec> dtype = DataTypeSpec{};
  std::vector<int64_t> shape;
  int64_t size = 0;
  std::vector<int64_t> stride;
  std::vector<int64_t> block_layout;
  std::vector<int64_t> layout_stride;
  int32_t mem_type = 0;  // DEV0
  std::string aux_name;
  uint64_t mem_offset = 0;
  std::vector<TensorSpec> sub_tensors;
  std::vector<int64_t> sub_roi;
};

struct QuantSpec {
  std::string name;
  std::vector<float> scale;
  std::vector<float> zero_point;
  std::vector<int64_t> block_shape;
  float min = 0.0f;
  float max = 0.0f;
};

struct ConfigSpec {
  int32_t args_num = 0;
  int32_t core_num = 0;
  int32_t tile_num = 4;
  uint32_t option_word = 0;
  bool option_flag_a = false;
  bool option_flag_b = true;
  bool option_flag_c = true;
  int32_t batch_num = 1;
  bool pack_inout = false;
};

struct WorkspaceSpec {
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t extra0 = 0;
  uint32_t extra1 = 0;
};

struct ModelSpec {
  bool has_version = true;
  uint64_t magic = 0x546F6C7665783338ull;
  uint64_t version = 1;
  std::optional<std::string> name = "model";
  std::optional<std::string> custom_msg;
  std::vector<BinarySpec> kernels;
  std::vector<BinarySpec> weights;
  std::vector<WorkspaceSpec> workspace;
  std::vector<TensorSpec> inputs;
  std::vector<TensorSpec> outputs;
  std::optional<std::vector<QuantSpec>> quant_info = std::vector<QuantSpec>{};
  std::optional<ConfigSpec> config = ConfigSpec{};
  std::vector<AttrSpec> attrs;
  // raw_data is written when a RAW_OFFSET blob places bytes, or when forced.
  bool force_raw_data = false;
  Bytes extra_raw_tail;  // appended after the placed items
};

Bytes BuildModel(const ModelSpec &spec);

// ---- containers ----

struct ValueSpec {
  std::optional<TensorSpec> info;
  int32_t dev_type = 0;
  std::vector<AttrSpec> attrs;
  struct Sub {
    std::optional<TensorSpec> info;
    std::vector<int32_t> rois;
    int32_t dev_id = 0;
  };
  std::vector<Sub> sub_dev_tensors;
  bool write_empty_sub_dev_tensors = false;  // an empty vector instead of none when there are no subs
};

struct OperationSpec {
  int32_t op_type = 0;
  std::vector<ValueSpec> oprands;
  std::vector<ValueSpec> results;
  std::vector<AttrSpec> attrs;
  // spec_attr: 0 none, 1 Parallel, 2 Launch, 3 AllGather, 4 Sync, 5 SubTensor, 6 Block,
  // anything else written as a bare type byte pointing at an empty table.
  uint8_t spec_type = 0;
  std::vector<int32_t> axes;              // Parallel
  std::string kernel_name;                // Launch
  int32_t kernel_indx = 0;                // Launch
  std::vector<int16_t> kernel_group_mask; // Launch
  int64_t kernel_group_id = -1;           // Launch
  int32_t dim = 0;                        // AllGather, FuncBlock
  int32_t dev_id = 0;                     // SubTensor, ParallelBlock
  int32_t block_type = 0;                 // Block
  uint8_t block_attr_type = 0;            // Block: 1 ParallelBlock, 2 FuncBlock
  std::vector<QuantSpec> quant_infos;     // FuncBlock
  std::vector<std::string> quant_names;   // FuncBlock
  bool spec_value_absent = false;         // the spec_attr type byte without a value
  bool block_value_absent = false;        // Block: the inner type byte without a value
};

struct SubModelSpec {
  Bytes bytes;  // a complete single-model buffer (or anything, for bad cases)
  std::string name;
  uint64_t hash = 0;
  uint32_t align = 0;
  std::optional<uint64_t> offset;  // header overrides for out-of-range cases
  std::optional<uint64_t> size;
};

struct DeviceSpec {
  std::string backend_name;
  int32_t device_id = 0;
};

struct ContainerSpec {
  std::vector<SubModelSpec> models;
  std::vector<DeviceSpec> devices;
  std::vector<ValueSpec> inputs;
  std::vector<ValueSpec> outputs;
  std::vector<OperationSpec> operations;
  std::vector<AttrSpec> attrs;
  bool has_model_data = true;     // false leaves the container without model_data
  bool has_model_headers = true;  // false leaves it without model_headers
};

Bytes BuildContainer(const ContainerSpec &spec);

// Small ready-made descriptions used across suites.
ModelSpec SimpleModel(const std::string &name, const std::vector<ItemSpec> &raw_weights);
ItemSpec Weight(const std::string &name, uint64_t hash, size_t size, uint8_t fill, uint32_t align = 0);

void WriteFile(const std::filesystem::path &path, const Bytes &bytes);
Bytes ReadFile(const std::filesystem::path &path);

}  // namespace vadu::testing
