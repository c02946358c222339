// The guard must see every kind of change a faulty run could make to an input.
#include "unchanged_files.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace vadu::testing {
namespace {

namespace fs = std::filesystem;

class UnchangedFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / (std::string("unchanged_files_") + test->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    WriteFile(dir_ / "model.qdm", {1, 2, 3, 4});
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(UnchangedFilesTest, ReportsChangedBytesSizeAndRemoval) {
  const fs::path model = dir_ / "model.qdm";
  const UnchangedFiles guard({model});
  guard.ExpectUnchanged();  // untouched: no failure

  WriteFile(model, {1, 2, 9, 4});
  EXPECT_NONFATAL_FAILURE(guard.ExpectUnchanged(), "first different byte at 2");
  WriteFile(model, {1, 2, 3});
  EXPECT_NONFATAL_FAILURE(guard.ExpectUnchanged(), "from 4 to 3 bytes");
  fs::remove(model);
  EXPECT_NONFATAL_FAILURE(guard.ExpectUnchanged(), "input file is gone");
}

TEST_F(UnchangedFilesTest, GuardsInputArgumentsButNotOptionValues) {
  const auto paths = FileArguments({"-s", "-o", "out.qdm", "-i", "a.qdm", "/abs/b.qdm"}, {"-o"}, dir_);
  EXPECT_EQ(paths, (std::vector<fs::path>{dir_ / "a.qdm", "/abs/b.qdm"}));
  // A missing file or a directory has nothing to guard; the output may change freely.
  WriteFile(dir_ / "out.qdm", {0});
  const UnchangedFiles guard(FileArguments({"-o", "out.qdm", "missing.qdm", "."}, {"-o"}, dir_));
  WriteFile(dir_ / "out.qdm", {1, 1});
  guard.ExpectUnchanged();
}

}  // namespace
}  // namespace vadu::testing
