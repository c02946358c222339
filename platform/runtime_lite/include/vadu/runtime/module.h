// A loaded model, with its load options (Module::Option, built from a device
// index, a WeightManager or a DevManager) and run options (Module::RunOption).
//
// The simulator reads a real single-model (.qdm) file: it is verified with the
// project's model verifier, and the model's inputs and outputs become
// TensorInfos. Tensor element types map from the file's (code, bits) pairs:
// INT 8/16/32, UINT 8/16/32 and FLOAT 16/32; the formats FMT_ND, FMT_NHWC and
// FMT_NCHW give ND descriptions, the three YUV formats a YUV description of a
// {height, width} shape. Anything else makes the load fail with UNSUPPORTED.
//
// Binding: every input and output is bound to one tensor whose description
// matches the model's (TensorInfo::IsMatch): host tensors with SetInput and
// SetOutput, device tensors of one of the option's devices with SetDevInput
// and SetDevOutput; a new binding replaces the old one. The module keeps a
// handle on the bound tensor, so it shares the caller's memory.
//
// Run executes no kernels. Once every input and output is bound (tensors
// named by Option::SetDummyTensors may stay unbound), it writes into output k
// (k counted from 0 in model order) the bytes
//
//     out_k[j] = (k mod 256) XOR in_0[j mod n_0] XOR in_1[j mod n_1] XOR ...
//
// where in_i is the data of bound input i as contiguous row-major bytes and
// n_i its byte length (MemSize - SpanSize of its description; inputs of
// length 0 and unbound dummy inputs drop out). A model with one input and one
// output of the same description therefore copies the input to output 0.
//
// Dumps: DumpInOut writes bound input i as "input_<i>.npy" and bound output k
// as "output_<k>.npy" (numpy format 1.0; ND tensors with their shape and
// element type, YUV tensors as a one-dimensional uint8 array of their bytes)
// and "model.json":
//
//     {"model": <name>, "inputs": [{"name", "file", "format", "dtype", "shape"}, ...],
//      "outputs": [...]}
//
// LoadDumpInput reads model.json from such a directory and feeds each listed
// input file whose name is an input of this module and whose element type and
// shape match into that input (into the bound tensor, or a new host tensor
// that it binds). Every other file, and every listed input it cannot use, is
// reported with a "[WARN] " line on standard error and skipped; listed output
// files are skipped silently.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vadu/runtime/dev_manager.h"
#include "vadu/runtime/enums.h"
#include "vadu/runtime/stream.h"
#include "vadu/runtime/tensor.h"
#include "vadu/runtime/tensor_info.h"

namespace vadu {

namespace detail {
struct ModuleState;
}

class Module {
 public:
  class WeightManager;
  class Option;
  class RunOption;

  // An empty module: GetInitStatus is UNINITIALIZED until LoadModel succeeds.
  Module();
  // Loads path as LoadModel does; GetInitStatus tells the outcome.
  Module(const std::string& path, const Option& option);

  static Module LoadFromFile(const std::string& path, const Option& option);
  // The model's description as JSON text: name, version, custom_msg,
  // core_num, and inputs and outputs with name, format, dtype, shape and
  // mem_size. An empty string when the file holds no model this library loads.
  static std::string LoadModelInfo(const std::string& path);

  // Loads the model; on success it replaces the module's model and drops
  // every binding, on failure the module stays as it was. UNAVAILABLE when
  // the file cannot be read, OUT_OF_RANGE when the option's model range lies
  // outside it, INVALID_ARGUMENT for bytes that are not a valid model or an
  // option without usable devices, UNSUPPORTED for tensors this library cannot
  // describe. The reason is written to standard error.
  Status LoadModel(const std::string& path, const Option& option);

  uint64_t GetInputNum() const;
  uint64_t GetOutputNum() const;
  // The name of input (output) index; "" for an index out of range.
  std::string GetInputName(int index) const;
  std::string GetOutputName(int index) const;
  // The model's description of the named tensor; an empty TensorInfo for an
  // unknown name.
  TensorInfo GetInputInfo(const std::string& name) const;
  TensorInfo GetOutputInfo(const std::string& name) const;

  // The device tensor bound to the named input (output). When none is bound,
  // one is allocated on the module's first device and bound in place of any
  // host tensor. An empty Tensor for an unknown name or an unloaded module.
  Tensor GetDevInput(const std::string& name);
  Tensor GetDevOutput(const std::string& name);

  // INVALID_ARGUMENT for an unknown name, an unusable or mismatching tensor,
  // or a tensor on the wrong side (host for SetDev*, device for Set*).
  Status SetInput(const std::string& name, const Tensor& tensor);
  Status SetOutput(const std::string& name, Tensor& tensor);
  Status SetDevInput(const std::string& name, const Tensor& tensor);
  Status SetDevOutput(const std::string& name, Tensor& tensor);

  // Copies the named output's bound tensor into tensor (which must match), or
  // when tensor is empty makes it a new host tensor holding a copy.
  // UNINITIALIZED when that output is not bound.
  Status GetOutput(const std::string& name, Tensor& tensor);

  // blocking is recorded only: the simulator finishes the work at the call.
  // INVALID_ARGUMENT when a tensor is unbound or the round count is below 1.
  Status Run(bool blocking, const RunOption& option);
  Status Sync();
  Status SetStream(Stream& stream);

  // The model's version number in decimal ("" without a version record).
  const std::string& GetModelVersion();
  std::string GetCustomMsg() const;
  // The core count of the model's configuration (0 without one).
  int64_t GetCoreNum() const;
  // The backend of the option the model was loaded with.
  const std::string& GetBackendName();

  // UNINITIALIZED for an unloaded module, UNAVAILABLE when a file cannot be
  // written (read, for LoadDumpInput), INVALID_ARGUMENT when the directory
  // has no readable model.json.
  Status DumpInOut(const std::string& path);
  Status LoadDumpInput(const std::string& path);

  Status GetInitStatus() const;

 private:
  std::shared_ptr<detail::ModuleState> state_;
};

// Weights that several modules share. The default manager places them on the
// module's own device; the integer is the number of devices holding them.
class Module::WeightManager {
 public:
  WeightManager() = default;

  // Weights on one device of the default backend.
  static WeightManager CreateWeightManager(int device_id);
  // Weights on every device of the manager.
  static WeightManager CreateWeightManager(const DevManager& devices);

  int32_t DeviceCount() const { return device_count_; }
  // The devices of the manager; an empty manager for the default state.
  DevManager Devices() const;

 private:
  struct State;
  WeightManager(std::shared_ptr<const State> state, int32_t device_count);

  std::shared_ptr<const State> state_;
  int32_t device_count_ = 1;
};

// Settings of one model load. Copies share the settings: a change made
// through one is seen through all. Profiling and the two lazy modes are
// recorded only; the simulator loads everything at once.
class Module::Option {
 public:
  // The model is loaded onto device device_id of the default backend.
  explicit Option(int device_id);
  // Onto the devices of the weight manager (device 0 for the default one).
  explicit Option(WeightManager& weights);
  // Onto the devices of the manager.
  explicit Option(const DevManager& devices);

  // Tensors that a run does not need bound.
  Option& SetDummyTensors(std::vector<std::string>& names);
  Option& EnableProfile(uint64_t level);
  Option& EnableIOLazyMode(bool enable);
  Option& EnableHostLazyLoading(bool enable);
  // The model is the size bytes at offset of the file (size 0: to the end).
  Option& SetModelOffset(uint64_t offset, uint64_t size);

  const std::vector<int32_t>& DeviceIds() const;
  const std::string& BackendName() const;
  const std::vector<std::string>& DummyTensors() const;
  uint64_t ProfileLevel() const;
  bool IOLazyMode() const;
  bool HostLazyLoading() const;
  uint64_t ModelOffset() const;
  uint64_t ModelSize() const;

 private:
  struct State;

  std::shared_ptr<State> state_;
};

// Settings of one run. Copies share the settings. Rounds defaults to 1, the
// core mask to 0 (the model's own cores); the simulator runs each round the
// same way, so the rounds and the mask do not change the results.
class Module::RunOption {
 public:
  RunOption();

  RunOption& Rounds(int64_t rounds);
  RunOption& CoreMask(int64_t mask);
  int64_t GetRounds() const;
  int64_t GetCoreMask() const;

 private:
  struct State;

  std::shared_ptr<State> state_;
};

}  // namespace vadu
