#include <gtest/gtest.h>

#include "command_line.h"
#include "json_test_util.h"
#include "output_selection.h"

namespace vadu::testing {
namespace {

using Strings = std::vector<std::string>;

picojson::object SingleDocument() {
  picojson::object doc;
  for (const char *key : {"info", "input", "output", "weights", "kernels", "quant_info", "mem_usage"}) {
    doc[key] = picojson::value(picojson::object());
  }
  return doc;
}

picojson::object ContainerDocument(picojson::object models) {
  picojson::object doc;
  for (const char *key : {"devices", "operations", "input", "output", "info", "quant_info"}) {
    doc[key] = picojson::value(picojson::object());
  }
  doc["models"] = picojson::value(std::move(models));
  return doc;
}

picojson::object TwoSubModels() {
  picojson::object models;
  models["a"] = picojson::value(SingleDocument());
  models["b"] = picojson::value(SingleDocument());
  return models;
}

// Parses a command line the way the program does and selects with GetArgs.
class Selection : public ::testing::Test {
 protected:
  void ParseArgs(std::vector<std::string> args) {
    args.insert(args.begin(), {"readqdm", "model.qdm"});
    readqdm::AddArguments(parser_);
    parser_.parse_args(args);
  }
  bool On(const std::string &key) { return readqdm::GetArgs(parser_, key); }
  picojson::object Select(const picojson::object &doc) {
    return readqdm::SelectOutput(doc, [this](const std::string &key) { return On(key); });
  }

  argparse::ArgumentParser parser_{readqdm::kProgramName, readqdm::kVersion};
};

TEST_F(Selection, InfoIsAlwaysOnAndOtherFlagsFollowTheCommandLine) {
  ParseArgs({"--input"});
  EXPECT_TRUE(On("info"));
  EXPECT_TRUE(On("input"));
  EXPECT_FALSE(On("output"));
  EXPECT_FALSE(On("models"));
  EXPECT_FALSE(On("weights"));
}

TEST_F(Selection, AllNeverSelectsKeysThatAreNotOptions) {
  ParseArgs({"--all"});
  for (const char *key : {"input", "output", "quant_info", "mem_usage", "models"}) EXPECT_TRUE(On(key)) << key;
  for (const char *key : {"weights", "kernels", "operations", "devices"}) EXPECT_FALSE(On(key)) << key;

  EXPECT_EQ(Keys(Select(SingleDocument())), (Strings{"info", "input", "mem_usage", "output", "quant_info"}));
  const picojson::object container = Select(ContainerDocument(TwoSubModels()));
  EXPECT_EQ(Keys(container), (Strings{"info", "input", "models", "output", "quant_info"}));
  EXPECT_EQ(Keys(Obj(Obj(container, "models"), "b")),
            (Strings{"info", "input", "mem_usage", "output", "quant_info"}));
}

TEST_F(Selection, ModelsShowOnlyTheSelectedSubModelKeys) {
  ParseArgs({"--models", "--mem_usage"});
  const picojson::object container = Select(ContainerDocument(TwoSubModels()));
  EXPECT_EQ(Keys(container), (Strings{"info", "models"}));
  EXPECT_EQ(Keys(Obj(container, "models")), (Strings{"a", "b"}));
  EXPECT_EQ(Keys(Obj(Obj(container, "models"), "a")), (Strings{"info", "mem_usage"}));

  EXPECT_TRUE(Obj(Select(ContainerDocument({})), "models").empty());
  EXPECT_EQ(Keys(Select(SingleDocument())), (Strings{"info", "mem_usage"}));
}

TEST(GetArgs, IsFalseBeforeAnythingIsParsed) {
  argparse::ArgumentParser parser(readqdm::kProgramName, readqdm::kVersion);
  readqdm::AddArguments(parser);
  EXPECT_FALSE(readqdm::GetArgs(parser, "info"));
}

}  // namespace
}  // namespace vadu::testing
