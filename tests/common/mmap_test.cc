// The mapped file in this process: mapping, release, descriptors, the lazy
// range registry, moves and the pre-fetch thread.
#include "vadu_mmap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <utility>

#include "test_files.h"

namespace vadu::testing {
namespace {

constexpr uint64_t kGiB = 1ULL << 30;

const char* At(const ReadOnlyMMapFile& file, uint64_t offset) { return file.char_data() + offset; }

class MMapTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::string& content) {
    const auto path = dir_.File(name);
    WriteText(path, content);
    return path.string();
  }

  ScratchDir dir_;
};

TEST_F(MMapTest, MapsTheWholeFileAndReleasesIt) {
  const std::string content = "0123456789abcdef";
  const auto path = Make("a.qdm", content);
  const int descriptors = CountOpenDescriptors();
  const void* start = nullptr;
  {
    ReadOnlyMMapFile file;
    ASSERT_TRUE(file.Init(path));
    start = file.data();
    ASSERT_EQ(file.size(), content.size());
    EXPECT_EQ(std::memcmp(file.data(), content.data(), content.size()), 0);
    EXPECT_EQ(static_cast<const void*>(file.char_data()), file.data());
    EXPECT_TRUE(file.valid());
    EXPECT_EQ(CountOpenDescriptors(), descriptors + 1);  // kept while mapped

    EXPECT_TRUE(ReadOnlyMMapFile::IsLazyMemory(At(file, 0)));
    EXPECT_TRUE(ReadOnlyMMapFile::IsLazyMemory(At(file, content.size() - 1)));
    EXPECT_FALSE(ReadOnlyMMapFile::IsLazyMemory(At(file, content.size())));
    EXPECT_FALSE(ReadOnlyMMapFile::IsLazyMemory(At(file, 0) - 1));
  }
  EXPECT_FALSE(ReadOnlyMMapFile::IsLazyMemory(start));
  EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

TEST_F(MMapTest, EmptyFileIsAValidEmptyMapping) {
  const auto path = Make("empty.qdm", "");
  const int descriptors = CountOpenDescriptors();
  ReadOnlyMMapFile file;
  EXPECT_TRUE(file.valid());  // before any Init
  ASSERT_TRUE(file.Init(path));
  EXPECT_EQ(file.data(), nullptr);
  EXPECT_EQ(file.size(), 0u);
  EXPECT_TRUE(file.valid());
  EXPECT_EQ(CountOpenDescriptors(), descriptors);
  ASSERT_TRUE(file.InitOpt(path));
  EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

TEST_F(MMapTest, FailuresLeaveAnEmptyObjectAndNoDescriptor) {
  const auto path = Make("a.qdm", "abc");
  const int descriptors = CountOpenDescriptors();
  ReadOnlyMMapFile file;
  ASSERT_TRUE(file.Init(path));
  const void* earlier = file.data();

  EXPECT_FALSE(file.Init(dir_.File("missing.qdm").string()));
  EXPECT_EQ(file.data(), nullptr);
  EXPECT_EQ(file.size(), 0u);
  EXPECT_FALSE(ReadOnlyMMapFile::IsLazyMemory(earlier));  // the old mapping went first
  EXPECT_EQ(CountOpenDescriptors(), descriptors);

  // A directory opens but cannot be mapped.
  const auto subdir = dir_.File("sub");
  std::filesystem::create_directory(subdir);
  EXPECT_FALSE(file.Init(subdir.string()));
  EXPECT_FALSE(file.InitOpt(subdir.string()));
  EXPECT_EQ(file.data(), nullptr);
  EXPECT_EQ(file.size(), 0u);
  EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

TEST_F(MMapTest, ReinitReplacesTheMapping) {
  const auto small = Make("small.qdm", "tiny");
  const auto large = Make("large.qdm", std::string(3 * 4096 + 5, 'L'));
  const int descriptors = CountOpenDescriptors();
  ReadOnlyMMapFile file;
  ASSERT_TRUE(file.Init(small));
  ASSERT_TRUE(file.Init(large));
  EXPECT_EQ(file.size(), 3u * 4096 + 5);
  EXPECT_EQ(*At(file, 3 * 4096 + 4), 'L');
  EXPECT_TRUE(ReadOnlyMMapFile::IsLazyMemory(At(file, 3 * 4096 + 4)));
  EXPECT_EQ(CountOpenDescriptors(), descriptors + 1);

  // A mapping made by InitOpt is not lazy memory.
  ASSERT_TRUE(file.InitOpt(small));
  EXPECT_FALSE(ReadOnlyMMapFile::IsLazyMemory(file.data()));
  EXPECT_EQ(CountOpenDescriptors(), descriptors + 1);
}

TEST_F(MMapTest, MovesTransferTheMapping) {
  const auto first = Make("first.qdm", std::string(8192, 'f'));
  const auto second = Make("second.qdm", "moved bytes");
  const int descriptors = CountOpenDescriptors();
  ReadOnlyMMapFile destination;
  ASSERT_TRUE(destination.Init(first));
  const void* old_start = destination.data();
  const void* new_start = nullptr;
  {
    ReadOnlyMMapFile source;
    ASSERT_TRUE(source.Init(second));
    new_start = source.data();
    ReadOnlyMMapFile middle(std::move(source));
    EXPECT_EQ(source.data(), nullptr);
    EXPECT_EQ(source.size(), 0u);
    destination = std::move(middle);  // releases the destination's own mapping first
    EXPECT_FALSE(ReadOnlyMMapFile::IsLazyMemory(old_start));
    EXPECT_EQ(CountOpenDescriptors(), descriptors + 1);
  }
  // Destroying the moved-from objects released nothing.
  EXPECT_EQ(destination.data(), new_start);
  EXPECT_EQ(std::string(destination.char_data(), destination.size()), "moved bytes");
  EXPECT_TRUE(ReadOnlyMMapFile::IsLazyMemory(new_start));

  auto& same = destination;
  destination = std::move(same);
  EXPECT_EQ(destination.data(), new_start);
  EXPECT_TRUE(ReadOnlyMMapFile::IsLazyMemory(new_start));

  // A moved-from object can be mapped again rather than crash.
  ReadOnlyMMapFile reused(std::move(destination));
  ASSERT_TRUE(destination.Init(first));
  EXPECT_EQ(*At(destination, 8191), 'f');
  EXPECT_EQ(CountOpenDescriptors(), descriptors + 2);
}

TEST_F(MMapTest, PrefetchThreadOnlyAboveOneGiB) {
  const auto exact = dir_.File("exact.bin");
  const auto above = dir_.File("above.bin");
  MakeSparseFile(exact, kGiB);
  MakeSparseFile(above, kGiB + 1);
  const int threads = CountThreads();
  {
    ReadOnlyMMapFile file;
    ASSERT_TRUE(file.InitOpt(exact.string()));
    EXPECT_EQ(CountThreads(), threads);
    ASSERT_TRUE(file.Init(above.string()));  // lazy mappings never pre-fetch
    EXPECT_EQ(CountThreads(), threads);
    ASSERT_TRUE(file.InitOpt(above.string()));
    // A quarter million page faults cannot be over yet.
    EXPECT_EQ(CountThreads(), threads + 1);
  }
  EXPECT_EQ(CountThreads(), threads);
}

TEST_F(MMapTest, ReleaseStopsThePrefetchEarly) {
  const auto huge = dir_.File("huge.bin");
  // Far too large to be read to its end within the time limit below.
  MakeSparseFile(huge, 256 * kGiB);
  const int threads = CountThreads();
  const int descriptors = CountOpenDescriptors();
  const auto begin = std::chrono::steady_clock::now();
  {
    ReadOnlyMMapFile file;
    ASSERT_TRUE(file.InitOpt(huge.string()));
    EXPECT_EQ(CountThreads(), threads + 1);
    ReadOnlyMMapFile owner(std::move(file));  // the thread follows its mapping
    EXPECT_EQ(CountThreads(), threads + 1);
  }
  EXPECT_EQ(CountThreads(), threads);
  {
    ReadOnlyMMapFile file;
    ASSERT_TRUE(file.InitOpt(huge.string()));
    EXPECT_FALSE(file.Init(dir_.File("missing").string()));
    EXPECT_EQ(CountThreads(), threads);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
  EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

}  // namespace
}  // namespace vadu::testing
