#include "vadu/runtime/module.h"

#include <algorithm>
#include <iostream>

#include <picojson.h>

#include "model_file.h"
#include "module_state.h"
#include "sim_devices.h"

namespace vadu {
namespace {

const std::string& EmptyString() {
  static const std::string empty;
  return empty;
}

std::optional<DataType> ElementType(const detail::ModelTensor& tensor) {
  if (!tensor.has_dtype) return std::nullopt;
  const int key = tensor.type_code * 1000 + tensor.type_bits;
  switch (key) {
    case 0 * 1000 + 8: return INT8;
    case 0 * 1000 + 16: return INT16;
    case 0 * 1000 + 32: return INT32;
    case 1 * 1000 + 8: return UINT8;
    case 1 * 1000 + 16: return UINT16;
    case 1 * 1000 + 32: return UINT32;
    case 2 * 1000 + 16: return FLOAT16;
    case 2 * 1000 + 32: return FLOAT32;
    default: return std::nullopt;
  }
}

// The model file's tensor as a runtime description.
Status DescribeTensor(const detail::ModelTensor& tensor, TensorInfo* info, std::string* error) {
  const std::string what = "tensor '" + tensor.name + "'";
  switch (tensor.format) {
    case YUV420SP:
    case YUV422SP:
    case YUV444SP:
      if (tensor.shape.size() != 2) {
        *error = what + ": a YUV tensor needs a {height, width} shape";
        return UNSUPPORTED;
      }
      *info = TensorInfo::CreateYUVInfo(tensor.shape[0], tensor.shape[1], 0, static_cast<DataFmt>(tensor.format));
      break;
    case 3:  // FMT_NHWC
    case 4:  // FMT_NCHW
    case ND: {
      const std::optional<DataType> dtype = ElementType(tensor);
      if (!dtype) {
        *error = what + ": element type not supported";
        return UNSUPPORTED;
      }
      *info = TensorInfo::CreateNDInfo(tensor.shape, *dtype);
      break;
    }
    default:
      *error = what + ": format " + std::to_string(tensor.format) + " not supported";
      return UNSUPPORTED;
  }
  if (info->GetInitStatus() != OK) *error = what + ": cannot be described";
  return info->GetInitStatus();
}

Status DescribeSlots(const std::vector<detail::ModelTensor>& tensors, const std::vector<std::string>& dummies,
                     std::vector<detail::TensorSlot>* slots, std::string* error) {
  for (const detail::ModelTensor& tensor : tensors) {
    detail::TensorSlot slot;
    slot.name = tensor.name;
    if (Status status = DescribeTensor(tensor, &slot.info, error); status != OK) return status;
    slot.dummy = std::find(dummies.begin(), dummies.end(), tensor.name) != dummies.end();
    slots->push_back(std::move(slot));
  }
  return OK;
}

Status CheckDevices(const Module::Option& option, std::string* error) {
  if (option.DeviceIds().empty()) {
    *error = "the option names no device";
    return INVALID_ARGUMENT;
  }
  for (int32_t id : option.DeviceIds()) {
    if (Status status = sim::CheckDevice(option.BackendName(), id); status != OK) {
      *error = "device " + std::to_string(id) + " of backend '" + option.BackendName() + "' is not available";
      return status;
    }
  }
  return OK;
}

// Reads the model and describes its tensors; devices are not looked at.
Status Describe(const std::string& path, uint64_t offset, uint64_t size, const std::vector<std::string>& dummies,
                detail::ModuleState* state, std::string* error) {
  detail::ModelDescription model;
  Status status = detail::ReadModelFile(path, offset, size, &model, error);
  if (status != OK) return status;
  state->name = model.name;
  state->version = model.version;
  state->custom_msg = model.custom_msg;
  state->core_num = model.core_num;
  if ((status = DescribeSlots(model.inputs, dummies, &state->inputs, error)) != OK) return status;
  return DescribeSlots(model.outputs, dummies, &state->outputs, error);
}

Status Load(const std::string& path, const Module::Option& option, detail::ModuleState* state, std::string* error) {
  if (Status status = CheckDevices(option, error); status != OK) return status;
  const Status status =
      Describe(path, option.ModelOffset(), option.ModelSize(), option.DummyTensors(), state, error);
  if (status != OK) return status;
  state->backend_name = option.BackendName();
  state->device_ids = option.DeviceIds();
  state->status = OK;
  return OK;
}

picojson::value ShapeJson(const std::vector<int64_t>& shape) {
  picojson::array dims;
  for (int64_t dim : shape) dims.emplace_back(dim);
  return picojson::value(dims);
}

picojson::value SlotsJson(const std::vector<detail::TensorSlot>& slots) {
  picojson::array list;
  for (const detail::TensorSlot& slot : slots) {
    picojson::object entry;
    entry["name"] = picojson::value(slot.name);
    entry["format"] = picojson::value(detail::DataFmtName(slot.info.Format()));
    entry["dtype"] = picojson::value(detail::DataTypeName(slot.info.DataType()));
    entry["shape"] = ShapeJson(slot.info.Shape());
    entry["mem_size"] = picojson::value(static_cast<int64_t>(slot.info.MemSize()));
    list.emplace_back(entry);
  }
  return picojson::value(list);
}

bool IsOnDevices(const Tensor& tensor, const std::vector<int32_t>& device_ids) {
  return tensor.Device() != CPU &&
         std::find(device_ids.begin(), device_ids.end(), tensor.DeviceId()) != device_ids.end();
}

// Binds tensor to the named slot when it is usable, matches and lives on the
// right side.
Status Bind(detail::ModuleState* state, std::vector<detail::TensorSlot>& slots, const std::string& name,
            const Tensor& tensor, bool device) {
  if (state->status != OK) return UNINITIALIZED;
  detail::TensorSlot* slot = detail::FindSlot(slots, name);
  if (!slot || tensor.GetInitStatus() != OK || !tensor.Info().IsMatch(slot->info)) return INVALID_ARGUMENT;
  if (device ? !IsOnDevices(tensor, state->device_ids) : tensor.Device() != CPU) return INVALID_ARGUMENT;
  slot->bound = tensor;
  return OK;
}

Tensor DeviceTensor(detail::ModuleState* state, std::vector<detail::TensorSlot>& slots, const std::string& name) {
  if (state->status != OK) return Tensor();
  detail::TensorSlot* slot = detail::FindSlot(slots, name);
  if (!slot) return Tensor();
  if (!slot->IsBound() || !IsOnDevices(slot->bound, state->device_ids))
    slot->bound = Tensor::CreateDeviceTensor(slot->info, 0, state->device_ids.front(), state->backend_name);
  return slot->bound;
}

}  // namespace

namespace detail {

std::optional<std::vector<uint8_t>> ReadTensorBytes(const Tensor& tensor, const TensorInfo& info) {
  Tensor host = Tensor::CreateHostTensor(info);
  if (host.GetInitStatus() != OK || tensor.CopyTo(host) != OK) return std::nullopt;
  std::vector<uint8_t> bytes(DataExtent(info));
  if (host.Buffer().CopyToHost(bytes.data(), bytes.size(), 0) != OK) return std::nullopt;
  return bytes;
}

Status WriteTensorBytes(Tensor& tensor, const TensorInfo& info, const std::vector<uint8_t>& bytes) {
  Tensor host = MakeHostTensor(info, bytes);
  if (host.GetInitStatus() != OK) return host.GetInitStatus();
  return host.CopyTo(tensor);
}

Tensor MakeHostTensor(const TensorInfo& info, const std::vector<uint8_t>& bytes) {
  Tensor host = Tensor::CreateHostTensor(info);
  if (host.GetInitStatus() != OK) return host;
  if (bytes.size() != DataExtent(info)) return Tensor();
  vadu::Buffer buffer = host.Buffer();
  if (buffer.CopyFromHost(bytes.data(), bytes.size(), 0) != OK) return Tensor();
  return host;
}

const char* DataTypeName(DataType dtype) {
  switch (dtype) {
    case INT8: return "INT8";
    case UINT8: return "UINT8";
    case INT16: return "INT16";
    case UINT16: return "UINT16";
    case INT32: return "INT32";
    case UINT32: return "UINT32";
    case FLOAT16: return "FLOAT16";
    case FLOAT32: return "FLOAT32";
  }
  return "???";
}

const char* DataFmtName(DataFmt format) {
  switch (format) {
    case YUV420SP: return "YUV420SP";
    case YUV422SP: return "YUV422SP";
    case YUV444SP: return "YUV444SP";
    case ND: return "ND";
  }
  return "???";
}

TensorSlot* FindSlot(std::vector<TensorSlot>& slots, const std::string& name) {
  auto it = std::find_if(slots.begin(), slots.end(), [&](const TensorSlot& s) { return s.name == name; });
  return it == slots.end() ? nullptr : &*it;
}

const TensorSlot* FindSlot(const std::vector<TensorSlot>& slots, const std::string& name) {
  auto it = std::find_if(slots.begin(), slots.end(), [&](const TensorSlot& s) { return s.name == name; });
  return it == slots.end() ? nullptr : &*it;
}

}  // namespace detail

Module::Module() : state_(std::make_shared<detail::ModuleState>()) {}

Module::Module(const std::string& path, const Option& option) : Module() { state_->status = LoadModel(path, option); }

Module Module::LoadFromFile(const std::string& path, const Option& option) { return Module(path, option); }

std::string Module::LoadModelInfo(const std::string& path) {
  detail::ModuleState state;
  std::string error;
  if (Describe(path, 0, 0, {}, &state, &error) != OK) return "";
  picojson::object info;
  info["name"] = picojson::value(state.name);
  info["version"] = picojson::value(state.version);
  info["custom_msg"] = picojson::value(state.custom_msg);
  info["core_num"] = picojson::value(state.core_num);
  info["inputs"] = SlotsJson(state.inputs);
  info["outputs"] = SlotsJson(state.outputs);
  return picojson::value(info).serialize(true);
}

Status Module::LoadModel(const std::string& path, const Option& option) {
  auto loaded = std::make_shared<detail::ModuleState>();
  std::string error;
  const Status status = Load(path, option, loaded.get(), &error);
  if (status != OK) {
    std::cerr << "[ERROR] LoadModel " << path << ": " << error << "\n";
    return status;
  }
  *state_ = std::move(*loaded);
  return OK;
}

uint64_t Module::GetInputNum() const { return state_->inputs.size(); }
uint64_t Module::GetOutputNum() const { return state_->outputs.size(); }

std::string Module::GetInputName(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= state_->inputs.size()) return "";
  return state_->inputs[static_cast<size_t>(index)].name;
}

std::string Module::GetOutputName(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= state_->outputs.size()) return "";
  return state_->outputs[static_cast<size_t>(index)].name;
}

TensorInfo Module::GetInputInfo(const std::string& name) const {
  const detail::TensorSlot* slot = detail::FindSlot(state_->inputs, name);
  return slot ? slot->info : TensorInfo();
}

TensorInfo Module::GetOutputInfo(const std::string& name) const {
  const detail::TensorSlot* slot = detail::FindSlot(state_->outputs, name);
  return slot ? slot->info : TensorInfo();
}

Tensor Module::GetDevInput(const std::string& name) { return DeviceTensor(state_.get(), state_->inputs, name); }
Tensor Module::GetDevOutput(const std::string& name) { return DeviceTensor(state_.get(), state_->outputs, name); }

Status Module::SetInput(const std::string& name, const Tensor& tensor) {
  return Bind(state_.get(), state_->inputs, name, tensor, false);
}

Status Module::SetOutput(const std::string& name, Tensor& tensor) {
  return Bind(state_.get(), state_->outputs, name, tensor, false);
}

Status Module::SetDevInput(const std::string& name, const Tensor& tensor) {
  return Bind(state_.get(), state_->inputs, name, tensor, true);
}

Status Module::SetDevOutput(const std::string& name, Tensor& tensor) {
  return Bind(state_.get(), state_->outputs, name, tensor, true);
}

Status Module::GetOutput(const std::string& name, Tensor& tensor) {
  if (state_->status != OK) return UNINITIALIZED;
  const detail::TensorSlot* slot = detail::FindSlot(state_->outputs, name);
  if (!slot) return INVALID_ARGUMENT;
  if (!slot->IsBound()) return UNINITIALIZED;
  if (tensor.GetInitStatus() != OK) {
    tensor = slot->bound.ToHost(true);
    return tensor.GetInitStatus();
  }
  return slot->bound.CopyTo(tensor);
}

Status Module::Run(bool /*blocking*/, const RunOption& option) {
  if (state_->status != OK) return UNINITIALIZED;
  if (option.GetRounds() < 1) return INVALID_ARGUMENT;
  for (const auto* slots : {&state_->inputs, &state_->outputs}) {
    for (const detail::TensorSlot& slot : *slots) {
      if (!slot.IsBound() && !slot.dummy) return INVALID_ARGUMENT;
    }
  }
  std::vector<std::vector<uint8_t>> inputs;
  for (const detail::TensorSlot& slot : state_->inputs) {
    if (!slot.IsBound()) continue;
    std::optional<std::vector<uint8_t>> bytes = detail::ReadTensorBytes(slot.bound, slot.info);
    if (!bytes) return INVALID_ARGUMENT;
    if (!bytes->empty()) inputs.push_back(std::move(*bytes));
  }
  for (size_t k = 0; k < state_->outputs.size(); ++k) {
    detail::TensorSlot& slot = state_->outputs[k];
    if (!slot.IsBound()) continue;
    std::vector<uint8_t> out(detail::DataExtent(slot.info), static_cast<uint8_t>(k & 0xFF));
    for (const std::vector<uint8_t>& in : inputs) {
      for (size_t j = 0; j < out.size(); ++j) out[j] ^= in[j % in.size()];
    }
    if (Status status = detail::WriteTensorBytes(slot.bound, slot.info, out); status != OK) return status;
  }
  return OK;
}

Status Module::Sync() {
  if (state_->status != OK) return UNINITIALIZED;
  return state_->stream ? state_->stream->Sync() : OK;
}

Status Module::SetStream(Stream& stream) {
  if (state_->status != OK) return UNINITIALIZED;
  if (stream.GetInitStatus() != OK) return INVALID_ARGUMENT;
  state_->stream = stream;
  return OK;
}

const std::string& Module::GetModelVersion() { return state_->version; }
std::string Module::GetCustomMsg() const { return state_->custom_msg; }
int64_t Module::GetCoreNum() const { return state_->core_num; }
const std::string& Module::GetBackendName() {
  return state_->status == OK ? state_->backend_name : EmptyString();
}

Status Module::GetInitStatus() const { return state_->status; }

}  // namespace vadu
