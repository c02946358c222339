// Runs the readqdm program on files from the model factory.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "json_test_util.h"
#include "model_factory.h"
#include "unchanged_files.h"
#include "unique_temp_dir.h"

namespace vadu::testing {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// The words of a shell command line, without the quotes around them.
Strings Words(const std::string &args) {
  Strings words;
  std::istringstream in(args);
  for (std::string word; in >> word;) {
    if (word.size() >= 2 && word.front() == '\'' && word.back() == '\'') word = word.substr(1, word.size() - 2);
    words.push_back(word);
  }
  return words;
}

std::string Slurp(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReadQdmCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = MakeUniqueTempDir(std::string("readqdm_cli_") + info->name());
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const std::string &name, const Bytes &bytes) {
    const fs::path path = dir_ / name;
    WriteFile(path, bytes);
    return path;
  }

  // `env` holds assignments for the logger; the test's own logging settings are cleared first.
  // Standard output goes to `stdout_target` instead when one is given, and is then not read back.
  RunResult Run(const std::string &args, const std::string &env = "", const std::string &stdout_target = "") {
    const fs::path out = dir_ / "stdout.txt";
    const fs::path err = dir_ / "stderr.txt";
    const std::string command = "env -u VADU_LOG_LEVEL -u VADU_LOG_TAGS -u VADU_LOG_FILE " + env + " " +
                                READQDM_BIN + " " + args + " >" +
                                (stdout_target.empty() ? out.string() : stdout_target) + " 2>" + err.string();
    // Whatever the run does, it must leave the model file as it was.
    const UnchangedFiles inputs(FileArguments(Words(args), {"--save_json"}, ""));
    const int raw = std::system(command.c_str());
    inputs.ExpectUnchanged();
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (stdout_target.empty()) result.out = Slurp(out);
    result.err = Slurp(err);
    return result;
  }

  // Runs and parses standard output, which must be one JSON object.
  picojson::object RunJson(const std::string &args) {
    const RunResult result = Run(args);
    EXPECT_EQ(result.status, 0) << result.err;
    picojson::value value;
    const std::string error = picojson::parse(value, result.out);
    EXPECT_EQ(error, "") << result.out;
    return value.is<picojson::object>() ? value.get<picojson::object>() : picojson::object();
  }

  fs::path dir_;
};

Bytes SmallModel(const std::string &name) { return BuildModel(SimpleModel(name, {Weight("w", 7, 32, 1)})); }

Bytes SmallContainer() {
  ContainerSpec spec;
  SubModelSpec first;
  first.bytes = SmallModel("A");
  first.name = "first";
  SubModelSpec corrupt = first;
  corrupt.name = "second";
  corrupt.bytes.assign(corrupt.bytes.size(), 0x5A);
  SubModelSpec third = first;
  third.bytes = SmallModel("C");
  third.name = "third";
  SubModelSpec again = first;
  again.bytes = SmallModel("D");
  again.name = "first";
  spec.models = {first, corrupt, third, again};
  AttrSpec attr;
  attr.name = "origin";
  attr.text = "factory";
  spec.attrs = {attr};
  return BuildContainer(spec);
}

TEST_F(ReadQdmCli, DefaultOutputIsTheInfoObjectExactly) {
  ModelSpec spec = SimpleModel("m", {});
  spec.config->pack_inout = true;
  const fs::path model = Write("m.qdm", BuildModel(spec));

  const RunResult result = Run(model.string());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "{\n"
            "  \"info\": {\n"
            "    \"args_num\": 0,\n"
            "    \"batch_num\": 1,\n"
            "    \"core_num\": 0,\n"
            "    \"name\": \"m\",\n"
            "    \"pack_inout\": \"true\",\n"
            "    \"tile_num\": 4,\n"
            "    \"version\": 1\n"
            "  }\n"
            "}\n");
  EXPECT_EQ(Run("--info " + model.string()).out, result.out);
}

TEST_F(ReadQdmCli, SelectsOnlyPrintableKeys) {
  const std::string model = Write("m.qdm", SmallModel("m")).string();
  EXPECT_EQ(Keys(RunJson("--all " + model)), (Strings{"info", "input", "mem_usage", "output", "quant_info"}));
  EXPECT_EQ(Keys(RunJson(model + " --input --models")), (Strings{"info", "input"}));

  const std::string container = Write("c.qdms", SmallContainer()).string();
  const picojson::object plain = RunJson("--mem_usage " + container);
  EXPECT_EQ(Keys(plain), (Strings{"info"}));
  EXPECT_EQ(Str(Obj(plain, "info"), "origin"), "factory");
  const picojson::object with_models = RunJson("--models " + container);
  EXPECT_EQ(Keys(with_models), (Strings{"info", "models"}));
  const picojson::object &models = Obj(with_models, "models");
  // The corrupt second sub-model is left out; the later "first" replaces the earlier one.
  EXPECT_EQ(Keys(models), (Strings{"first", "third"}));
  EXPECT_EQ(Keys(Obj(models, "first")), (Strings{"info"}));
  EXPECT_EQ(Str(Obj(Obj(models, "first"), "info"), "name"), "D");
  const picojson::object all = RunJson("--all " + container);
  EXPECT_EQ(Keys(all), (Strings{"info", "input", "models", "output", "quant_info"}));
  EXPECT_EQ(Keys(Obj(Obj(all, "models"), "third")), (Strings{"info", "input", "mem_usage", "output", "quant_info"}));
}

TEST_F(ReadQdmCli, MemoryEstimateAndNonFiniteQuantValues) {
  ModelSpec spec;
  spec.workspace = {{0, 100, 0, 0}};
  spec.inputs.resize(1);
  spec.inputs[0].size = 10;
  spec.outputs.resize(1);
  spec.outputs[0].size = 64;
  spec.kernels.resize(1);
  spec.kernels[0].items = {Weight("k", 0, 1, 0)};
  QuantSpec quant;
  quant.name = "q";
  quant.scale = {std::numeric_limits<float>::quiet_NaN(), 2.0f};
  quant.max = -std::numeric_limits<float>::infinity();
  spec.quant_info = std::vector<QuantSpec>{quant};
  const std::string model = Write("m.qdm", BuildModel(spec)).string();

  const picojson::object doc = RunJson("--mem_usage --quant_info " + model);
  const picojson::object &usage = Obj(doc, "mem_usage");
  EXPECT_EQ(Ints(usage.at("workspace")), (std::vector<int64_t>{128}));
  EXPECT_EQ(Ints(usage.at("inout")), (std::vector<int64_t>{10, 64}));  // as stored, not rounded
  EXPECT_EQ(Int(usage, "weights"), 0);
  EXPECT_EQ(Int(usage, "kernel"), 64);
  EXPECT_EQ(Int(usage, "total"), 320);
  const picojson::object &q = Obj(Obj(doc, "quant_info"), "q");
  EXPECT_TRUE(Arr(q, "scale").at(0).is<picojson::null>());
  EXPECT_EQ(Arr(q, "scale").at(1).get<double>(), 2.0);
  EXPECT_TRUE(q.at("max").is<picojson::null>());
}

TEST_F(ReadQdmCli, SaveJsonWritesOnlyTheFile) {
  const std::string model = Write("m.qdm", SmallModel("m")).string();
  const fs::path target = dir_ / "out.json";
  WriteFile(target, Bytes(4096, 'x'));  // an existing file is truncated

  const RunResult saved = Run("--all --save_json " + target.string() + " " + model);
  EXPECT_EQ(saved.status, 0);
  EXPECT_EQ(saved.out, "");
  const std::string text = Slurp(target);
  EXPECT_EQ(text, Run("--all " + model).out);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "}\n");

  const RunResult refused = Run("--save_json " + (dir_ / "no_dir" / "out.json").string() + " " + model);
  EXPECT_EQ(refused.status, 255);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "");
}

TEST_F(ReadQdmCli, WritesThatFailAreReported) {
  const std::string model = Write("m.qdm", SmallModel("m")).string();
  // The text fits in the stream buffers, so only the final flush or close can fail.
  const RunResult to_file = Run("--all --save_json /dev/full " + model);
  EXPECT_EQ(to_file.status, 255);
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(to_file.err, "[ERROR] Failed to write JSON output: /dev/full: No space left on device\n");

  const RunResult to_stdout = Run("--all " + model, "", "/dev/full");
  EXPECT_EQ(to_stdout.status, 255);
  EXPECT_EQ(to_stdout.err, "[ERROR] Failed to write JSON output: standard output: No space left on device\n");
}

TEST_F(ReadQdmCli, UnreadableFilesFailThroughTheLogger) {
  for (const Bytes &bytes : {Bytes{}, Bytes{'Q', 'D', 'M'}, Bytes(64, 0)}) {
    const RunResult result = Run(Write("bad.qdm", bytes).string());
    EXPECT_EQ(result.status, 255) << bytes.size();
    EXPECT_NE(result.out.find("[error] Not supported model type!\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find('{'), std::string::npos);
  }
  EXPECT_EQ(Run(Write("empty.qdm", {}).string(), "VADU_LOG_LEVEL=0").out, "");

  const std::string missing = (dir_ / "absent.qdm").string();
  const RunResult result = Run(missing);
  EXPECT_EQ(result.status, 255);
  EXPECT_NE(result.out.find("[error] Failed to open model file: " + missing + "\n"), std::string::npos);
  EXPECT_EQ(result.out.find("open file failed"), std::string::npos);  // the mapped file stays silent
  EXPECT_EQ(result.out.find('{'), std::string::npos);
  EXPECT_EQ(Run("''").status, 255);  // an empty path
}

TEST_F(ReadQdmCli, HelpVersionAndParseErrors) {
  const RunResult help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char *text : {"Usage: readqdm", "The qdm model build by qdcc [required]",
                           "show the memory info, default is true", "show the sub models in qdms, only works in qdms"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }

  EXPECT_EQ(Run("-v").out, "1.0\n");
  EXPECT_EQ(Run("--bogus m.qdm").status, 255);

  const RunResult missing_positional = Run("--all");
  EXPECT_EQ(missing_positional.status, 255);
  EXPECT_EQ(missing_positional.err, "qdm: 1 argument(s) expected. 0 provided.\n" + help.out);
}

TEST_F(ReadQdmCli, ModelAttributesAreLoggedUnderTheirTag) {
  ModelSpec spec = SimpleModel("m", {});
  spec.attrs.resize(3);
  spec.attrs[0].name = "zz";
  spec.attrs[0].text = "last name first";
  spec.attrs[1].name = "aa";
  spec.attrs[1].kind = AttrSpec::Kind::kBytes;
  spec.attrs[2].name = "mm";
  spec.attrs[2].kind = AttrSpec::Kind::kUndefined;
  const std::string model = Write("m.qdm", BuildModel(spec)).string();

  const std::string logged = Run(model, "VADU_LOG_LEVEL=3 VADU_LOG_TAGS=Model").out;
  const size_t first = logged.find("[info] [Model] zz: last name first\n");
  const size_t second = logged.find("[info] [Model] aa: byte_data\n");
  const size_t third = logged.find("[info] [Model] mm: unknown_type\n");
  ASSERT_NE(first, std::string::npos) << logged;
  EXPECT_LT(first, second);  // vector order, not name order
  EXPECT_LT(second, third);
  EXPECT_NE(third, std::string::npos);

  EXPECT_EQ(Run(model, "VADU_LOG_LEVEL=3").out.find("[Model]"), std::string::npos);
  EXPECT_EQ(Run(model, "VADU_LOG_TAGS=Model").out.find("[Model]"), std::string::npos);
}

}  // namespace
}  // namespace vadu::testing
