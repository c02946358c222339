// The simulated Module: loading real model files, binding, the documented run
// function, and dumping and reloading the tensors of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "module_test_model.h"
#include "vadu/runtime/module.h"

namespace vadu {
namespace {

namespace fs = std::filesystem;
using testing::BuildModel;
using testing::ModuleTestModel;

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vadu_module_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    model_path_ = (dir_ / "flow.qdm").string();
    testing::WriteFile(model_path_, BuildModel(ModuleTestModel()));
  }
  void TearDown() override { fs::remove_all(dir_); }

  Module Loaded() {
    Module module(model_path_, Module::Option(0));
    EXPECT_EQ(module.GetInitStatus(), OK);
    return module;
  }

  static std::vector<uint8_t> Bytes(const Tensor &tensor) {
    std::vector<uint8_t> bytes(tensor.MemSize());
    EXPECT_EQ(tensor.Buffer().CopyToHost(bytes.data(), bytes.size()), OK);
    return bytes;
  }

  static Tensor HostTensor(const TensorInfo &info, uint8_t first) {
    Tensor tensor = Tensor::CreateHostTensor(info);
    std::vector<uint8_t> bytes(info.MemSize());
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(first + 13 * i);
    vadu::Buffer buffer = tensor.Buffer();
    EXPECT_EQ(buffer.CopyFromHost(bytes.data(), bytes.size()), OK);
    return tensor;
  }

  // Binds patterned inputs and empty outputs; returns the tensors in model order.
  std::vector<Tensor> BindAll(Module &module) {
    std::vector<Tensor> tensors = {HostTensor(module.GetInputInfo("a"), 1), HostTensor(module.GetInputInfo("b"), 200),
                                   Tensor::CreateHostTensor(module.GetOutputInfo("sum")),
                                   Tensor::CreateHostTensor(module.GetOutputInfo("tag"))};
    EXPECT_EQ(module.SetInput("a", tensors[0]), OK);
    EXPECT_EQ(module.SetInput("b", tensors[1]), OK);
    EXPECT_EQ(module.SetOutput("sum", tensors[2]), OK);
    EXPECT_EQ(module.SetOutput("tag", tensors[3]), OK);
    return tensors;
  }

  // The run function written out independently of the library.
  static std::vector<uint8_t> Expected(size_t k, size_t size, const std::vector<std::vector<uint8_t>> &inputs) {
    std::vector<uint8_t> out(size);
    for (size_t j = 0; j < size; ++j) {
      uint8_t value = static_cast<uint8_t>(k);
      for (const auto &in : inputs) value ^= in[j % in.size()];
      out[j] = value;
    }
    return out;
  }

  fs::path dir_;
  std::string model_path_;
};

TEST_F(ModuleTest, DescribesTheModelFile) {
  Module module = Loaded();
  EXPECT_EQ(module.GetInputNum(), 2u);
  EXPECT_EQ(module.GetOutputNum(), 2u);
  EXPECT_EQ(module.GetInputName(1), "b");
  EXPECT_EQ(module.GetOutputName(0), "sum");
  EXPECT_EQ(module.GetInputName(-1), "");
  EXPECT_EQ(module.GetOutputName(2), "");
  const TensorInfo a = module.GetInputInfo("a");
  EXPECT_EQ(a.DataType(), FLOAT32);
  EXPECT_EQ(a.Format(), ND);
  EXPECT_EQ(a.Shape(), (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(a.MemSize(), 24u);
  EXPECT_EQ(module.GetOutputInfo("tag").DataType(), INT16);
  EXPECT_EQ(module.GetInputInfo("nope").GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(module.GetModelVersion(), "3");
  EXPECT_EQ(module.GetCustomMsg(), "hello");
  EXPECT_EQ(module.GetCoreNum(), 2);
  EXPECT_EQ(module.GetBackendName(), "sim");

  const std::string info = Module::LoadModelInfo(model_path_);
  EXPECT_NE(info.find("\"custom_msg\": \"hello\""), std::string::npos) << info;
  EXPECT_NE(info.find("\"dtype\": \"INT16\""), std::string::npos) << info;
}

TEST_F(ModuleTest, BadFilesGiveStatusesNotCrashes) {
  EXPECT_EQ(Module((dir_ / "missing.qdm").string(), Module::Option(0)).GetInitStatus(), UNAVAILABLE);
  EXPECT_EQ(Module(dir_.string(), Module::Option(0)).GetInitStatus(), UNAVAILABLE);
  EXPECT_EQ(Module::LoadModelInfo((dir_ / "missing.qdm").string()), "");

  // Every truncation of a valid model is refused by the verifier.
  const testing::Bytes model = BuildModel(ModuleTestModel());
  for (size_t size : {size_t{0}, size_t{7}, size_t{12}, model.size() / 2, model.size() - 1}) {
    const fs::path path = dir_ / "cut.qdm";
    testing::WriteFile(path, testing::Bytes(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(size)));
    EXPECT_EQ(Module(path.string(), Module::Option(0)).GetInitStatus(), INVALID_ARGUMENT) << size;
  }

  testing::ModelSpec unsupported = ModuleTestModel();
  unsupported.inputs[0].dtype = testing::DataTypeSpec{2, 64, 1};  // float64
  testing::WriteFile(dir_ / "f64.qdm", BuildModel(unsupported));
  EXPECT_EQ(Module((dir_ / "f64.qdm").string(), Module::Option(0)).GetInitStatus(), UNSUPPORTED);

  testing::ModelSpec repeated = ModuleTestModel();
  repeated.outputs[1].name = "sum";
  testing::WriteFile(dir_ / "repeated.qdm", BuildModel(repeated));
  EXPECT_EQ(Module((dir_ / "repeated.qdm").string(), Module::Option(0)).GetInitStatus(), INVALID_ARGUMENT);

  // A device the backend does not have.
  EXPECT_EQ(Module(model_path_, Module::Option(99)).GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(Module(model_path_, Module::Option(DevManager())).GetInitStatus(), INVALID_ARGUMENT);
}

TEST_F(ModuleTest, ModelOffsetSelectsBytesInsideALargerFile) {
  const testing::Bytes model = BuildModel(ModuleTestModel());
  testing::Bytes file(100 + model.size() + 50, 0xEE);
  std::copy(model.begin(), model.end(), file.begin() + 100);
  const std::string path = (dir_ / "packed.bin").string();
  testing::WriteFile(path, file);

  Module::Option option(0);
  option.SetModelOffset(100, model.size());
  EXPECT_EQ(Module(path, option).GetInitStatus(), OK);
  option.SetModelOffset(100, file.size());
  EXPECT_EQ(Module(path, option).GetInitStatus(), OUT_OF_RANGE);
  option.SetModelOffset(~uint64_t{0}, 1);
  EXPECT_EQ(Module(path, option).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(Module(path, Module::Option(0)).GetInitStatus(), INVALID_ARGUMENT);
}

TEST_F(ModuleTest, FailedReloadKeepsTheLoadedModel) {
  Module module = Loaded();
  Module copy = module;
  EXPECT_EQ(module.LoadModel((dir_ / "missing.qdm").string(), Module::Option(0)), UNAVAILABLE);
  EXPECT_EQ(module.GetInitStatus(), OK);
  EXPECT_EQ(copy.GetInputNum(), 2u);

  Module empty;
  EXPECT_EQ(empty.GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(empty.LoadModel(model_path_, Module::Option(0)), OK);
  EXPECT_EQ(empty.GetInitStatus(), OK);
}

TEST_F(ModuleTest, BindingChecksNameMatchAndSide) {
  Module module = Loaded();
  const TensorInfo a = module.GetInputInfo("a");
  Tensor host = Tensor::CreateHostTensor(a);
  Tensor device = Tensor::CreateDeviceTensor(a, 0, 0, "");
  Tensor other_device = Tensor::CreateDeviceTensor(a, 0, 1, "");
  Tensor wrong_shape = Tensor::CreateHostTensor(TensorInfo::CreateNDInfo({3, 2}, FLOAT32));
  Tensor wrong_type = Tensor::CreateHostTensor(a.AsType(INT32));

  EXPECT_EQ(module.SetInput("nope", host), INVALID_ARGUMENT);
  EXPECT_EQ(module.SetInput("a", wrong_shape), INVALID_ARGUMENT);
  EXPECT_EQ(module.SetInput("a", wrong_type), INVALID_ARGUMENT);
  EXPECT_EQ(module.SetInput("a", Tensor()), INVALID_ARGUMENT);
  EXPECT_EQ(module.SetInput("a", device), INVALID_ARGUMENT);
  EXPECT_EQ(module.SetDevInput("a", host), INVALID_ARGUMENT);
  EXPECT_EQ(module.SetDevInput("a", other_device), INVALID_ARGUMENT);
  EXPECT_EQ(module.SetDevInput("a", device), OK);
  EXPECT_EQ(module.SetInput("a", host), OK);

  Module unloaded;
  EXPECT_EQ(unloaded.SetInput("a", host), UNINITIALIZED);
  EXPECT_EQ(unloaded.Run(true, Module::RunOption()), UNINITIALIZED);
  EXPECT_EQ(unloaded.DumpInOut((dir_ / "d").string()), UNINITIALIZED);
}

TEST_F(ModuleTest, RunWritesTheDocumentedFunctionOfTheInputs) {
  Module module = Loaded();
  EXPECT_EQ(module.Run(true, Module::RunOption()), INVALID_ARGUMENT);  // nothing bound
  std::vector<Tensor> t = BindAll(module);
  EXPECT_EQ(module.Run(true, Module::RunOption().Rounds(0)), INVALID_ARGUMENT);
  ASSERT_EQ(module.Run(false, Module::RunOption()), OK);
  EXPECT_EQ(module.Sync(), OK);

  const std::vector<std::vector<uint8_t>> inputs = {Bytes(t[0]), Bytes(t[1])};
  EXPECT_EQ(Bytes(t[2]), Expected(0, 24, inputs));
  EXPECT_EQ(Bytes(t[3]), Expected(1, 10, inputs));

  // A copy of the module handle shares the bindings; GetOutput copies out.
  Tensor fresh;
  EXPECT_EQ(Module(module).GetOutput("tag", fresh), OK);
  EXPECT_EQ(fresh.Device(), CPU);
  EXPECT_EQ(Bytes(fresh), Expected(1, 10, inputs));
  Tensor mismatched = Tensor::CreateHostTensor(module.GetOutputInfo("sum"));
  EXPECT_EQ(module.GetOutput("tag", mismatched), INVALID_ARGUMENT);
  EXPECT_EQ(module.GetOutput("nope", fresh), INVALID_ARGUMENT);
}

TEST_F(ModuleTest, DeviceTensorsAndStridedTensorsCarryData) {
  Module module = Loaded();
  std::vector<Tensor> t = BindAll(module);
  Tensor dev_a = module.GetDevInput("a");  // replaces the host binding
  ASSERT_EQ(dev_a.GetInitStatus(), OK);
  EXPECT_EQ(dev_a.Device(), HDPL);
  EXPECT_EQ(module.GetDevInput("a").Buffer().Data(), dev_a.Buffer().Data());
  EXPECT_EQ(t[0].CopyTo(dev_a), OK);

  // An output bound through a strided view gets the elements at its strides.
  const TensorInfo strided = TensorInfo::CreateNDInfo({2, 3}, FLOAT32, {32, 4});
  Tensor wide = Tensor::CreateHostTensor(strided);
  ASSERT_EQ(module.SetOutput("sum", wide), OK);
  ASSERT_EQ(module.Run(true, Module::RunOption()), OK);

  const std::vector<uint8_t> expected = Expected(0, 24, {Bytes(t[0]), Bytes(t[1])});
  const std::vector<uint8_t> got = Bytes(wide);
  for (size_t row = 0; row < 2; ++row) {
    EXPECT_EQ(std::memcmp(got.data() + 32 * row, expected.data() + 12 * row, 12), 0) << row;
  }
  EXPECT_EQ(module.GetDevOutput("nope").GetInitStatus(), UNINITIALIZED);
}

TEST_F(ModuleTest, ScalarEmptyAndYuvTensorsRunAndDump) {
  testing::ModelSpec spec;
  testing::TensorSpec yuv;
  yuv.name = "yuv";
  yuv.format = 0;  // FMT_YUV420SP
  yuv.shape = {4, 4};
  spec.inputs = {testing::ModuleTestTensor("scalar", 2, 32, {}), testing::ModuleTestTensor("empty", 1, 8, {0}), yuv};
  spec.outputs = {testing::ModuleTestTensor("bytes", 1, 8, {24}), testing::ModuleTestTensor("none", 0, 8, {0, 3})};
  const fs::path path = dir_ / "shapes.qdm";
  testing::WriteFile(path, BuildModel(spec));
  Module module(path.string(), Module::Option(0));
  ASSERT_EQ(module.GetInitStatus(), OK);
  EXPECT_EQ(module.GetInputInfo("yuv").Format(), YUV420SP);
  EXPECT_EQ(module.GetInputInfo("yuv").MemSize(), 24u);

  Tensor scalar = HostTensor(module.GetInputInfo("scalar"), 3);
  Tensor empty = Tensor::CreateHostTensor(module.GetInputInfo("empty"));
  Tensor image = HostTensor(module.GetInputInfo("yuv"), 40);
  Tensor bytes = Tensor::CreateHostTensor(module.GetOutputInfo("bytes"));
  Tensor none = Tensor::CreateHostTensor(module.GetOutputInfo("none"));
  ASSERT_EQ(module.SetInput("scalar", scalar), OK);
  ASSERT_EQ(module.SetInput("empty", empty), OK);
  ASSERT_EQ(module.SetInput("yuv", image), OK);
  ASSERT_EQ(module.SetOutput("bytes", bytes), OK);
  ASSERT_EQ(module.SetOutput("none", none), OK);
  ASSERT_EQ(module.Run(true, Module::RunOption()), OK);
  EXPECT_EQ(Bytes(bytes), Expected(0, 24, {Bytes(scalar), Bytes(image)}));

  const fs::path dump = dir_ / "dump";
  ASSERT_EQ(module.DumpInOut(dump.string()), OK);
  Module fresh(path.string(), Module::Option(0));
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(fresh.LoadDumpInput(dump.string()), OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  Tensor again = Tensor::CreateHostTensor(fresh.GetOutputInfo("bytes"));
  Tensor none_again = Tensor::CreateHostTensor(fresh.GetOutputInfo("none"));
  ASSERT_EQ(fresh.SetOutput("bytes", again), OK);
  ASSERT_EQ(fresh.SetOutput("none", none_again), OK);
  ASSERT_EQ(fresh.Run(true, Module::RunOption()), OK);
  EXPECT_EQ(Bytes(again), Bytes(bytes));
}

TEST_F(ModuleTest, DummyTensorsMayStayUnbound) {
  std::vector<std::string> dummies = {"b", "tag"};
  Module::Option option(0);
  option.SetDummyTensors(dummies);
  Module module(model_path_, option);
  Tensor a = HostTensor(module.GetInputInfo("a"), 5);
  Tensor sum = Tensor::CreateHostTensor(module.GetOutputInfo("sum"));
  ASSERT_EQ(module.SetInput("a", a), OK);
  ASSERT_EQ(module.SetOutput("sum", sum), OK);
  ASSERT_EQ(module.Run(true, Module::RunOption()), OK);
  EXPECT_EQ(Bytes(sum), Bytes(a));  // one input left: output 0 copies it
  Tensor tag;
  EXPECT_EQ(module.GetOutput("tag", tag), UNINITIALIZED);
}

TEST_F(ModuleTest, DumpAndLoadDumpRoundTrip) {
  Module module = Loaded();
  std::vector<Tensor> t = BindAll(module);
  ASSERT_EQ(module.Run(true, Module::RunOption()), OK);
  const fs::path dump = dir_ / "dump" / "nested";
  ASSERT_EQ(module.DumpInOut(dump.string()), OK);
  for (const char *name : {"input_0.npy", "input_1.npy", "output_0.npy", "output_1.npy", "model.json"}) {
    EXPECT_TRUE(fs::exists(dump / name)) << name;
  }
  // numpy format 1.0, data at a multiple of 64 bytes.
  const testing::Bytes npy = testing::ReadFile(dump / "input_0.npy");
  ASSERT_GE(npy.size(), 10u);
  EXPECT_EQ(std::string(npy.begin(), npy.begin() + 8), std::string("\x93NUMPY\x01\x00", 8));
  EXPECT_EQ((npy.size() - 24) % 64, 0u);

  // Into a fresh module: unbound inputs get host tensors.
  Module fresh = Loaded();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fresh.LoadDumpInput(dump.string()), OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  Tensor sum = Tensor::CreateHostTensor(fresh.GetOutputInfo("sum"));
  Tensor tag = Tensor::CreateHostTensor(fresh.GetOutputInfo("tag"));
  ASSERT_EQ(fresh.SetOutput("sum", sum), OK);
  ASSERT_EQ(fresh.SetOutput("tag", tag), OK);
  ASSERT_EQ(fresh.Run(true, Module::RunOption()), OK);
  EXPECT_EQ(Bytes(sum), Bytes(t[2]));
  EXPECT_EQ(Bytes(tag), Bytes(t[3]));

  // Into bound tensors: the caller's tensor receives the data.
  Module bound = Loaded();
  Tensor a = Tensor::CreateHostTensor(bound.GetInputInfo("a"));
  ASSERT_EQ(bound.SetInput("a", a), OK);
  ASSERT_EQ(bound.LoadDumpInput(dump.string()), OK);
  EXPECT_EQ(Bytes(a), Bytes(t[0]));
}

TEST_F(ModuleTest, LoadDumpWarnsAboutWhatItCannotUse) {
  Module module = Loaded();
  BindAll(module);
  const fs::path dump = dir_ / "dump";
  ASSERT_EQ(module.DumpInOut(dump.string()), OK);
  testing::WriteFile(dump / "notes.txt", {'h', 'i'});
  // input_1.npy now holds the wrong number of elements for "b".
  const testing::Bytes b = testing::ReadFile(dump / "input_1.npy");
  testing::Bytes cut(b.begin(), b.end() - 1);
  testing::WriteFile(dump / "input_1.npy", cut);

  Module fresh = Loaded();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fresh.LoadDumpInput(dump.string()), OK);
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find("[WARN] LoadDumpInput: skipping notes.txt"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("skipping input_1.npy"), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("input_0.npy"), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("output_"), std::string::npos) << warnings;
  // "a" was fed, "b" was not.
  Tensor sum = Tensor::CreateHostTensor(fresh.GetOutputInfo("sum"));
  Tensor tag = Tensor::CreateHostTensor(fresh.GetOutputInfo("tag"));
  fresh.SetOutput("sum", sum);
  fresh.SetOutput("tag", tag);
  EXPECT_EQ(fresh.Run(true, Module::RunOption()), INVALID_ARGUMENT);

  // A model that lacks "b" warns about the input it does not have.
  testing::ModelSpec one_input = ModuleTestModel();
  one_input.inputs.pop_back();
  testing::WriteFile(dir_ / "one.qdm", BuildModel(one_input));
  testing::WriteFile(dump / "input_1.npy", b);
  fs::remove(dump / "notes.txt");
  Module smaller((dir_ / "one.qdm").string(), Module::Option(0));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(smaller.LoadDumpInput(dump.string()), OK);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("'b' is not an input of this module"), std::string::npos);

  fs::remove(dump / "model.json");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fresh.LoadDumpInput(dump.string()), INVALID_ARGUMENT);
  ::testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace vadu
