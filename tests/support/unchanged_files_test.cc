// The guard must see every kind of change a faulty run could make to an input.
#include "unchanged_files.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "unique_temp_dir.h"

namespace vadu::testing {
namespace {

namespace fs = std::filesystem;

class UnchangedFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = MakeUniqueTempDir(std::string("unchanged_files_") + test->name());
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

// Two suites running at once ask for a folder of the same test's name.
TEST(MakeUniqueTempDirTest, GivesEachCallAnEmptyFolderOfItsOwn) {
  const fs::path first = MakeUniqueTempDir("unique_temp_dir");
  const fs::path second = MakeUniqueTempDir("unique_temp_dir");
  EXPECT_NE(first, second);
  EXPECT_TRUE(fs::is_directory(first) && fs::is_empty(first));
  EXPECT_TRUE(fs::is_directory(second) && fs::is_empty(second));
  EXPECT_EQ(first.filename().string().rfind("unique_temp_dir_", 0), 0U);
  fs::remove_all(first);
  fs::remove_all(second);
}

}  // namespace
}  // namespace vadu::testing
