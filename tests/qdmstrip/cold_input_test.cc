// qdmstrip over inputs that are not in the page cache, as it finds them after
// a reboot, on a network share, or after any earlier run released them. The
// inputs' pages are dropped before each run and the run's major page faults
// (its waits for a read from the disk) are counted: reading ahead, a job
// waits at most once per 64 KiB it writes; reading page by page, once per
// 4 KiB it copies.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "test_support.h"

namespace vadu::qdmstrip {
namespace {

namespace fs = ::std::filesystem;
namespace vt = ::vadu::testing;
using testing::CliResult;
using testing::RunQdmstrip;
using testing::ScratchDir;

constexpr uint64_t kBytesPerWait = 64 * 1024;
constexpr size_t kWeightBytes = 256 * 1024;
constexpr uint64_t kWeights = 96;  // 24 MiB in each last model; two thirds shared
constexpr uint64_t kSharedWeights = kWeights * 2 / 3;

// An open descriptor, closed with its owner.
class OpenFile {
 public:
  explicit OpenFile(const fs::path &path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
  }
  ~OpenFile() { ::close(fd_); }
  OpenFile(const OpenFile &) = delete;
  OpenFile &operator=(const OpenFile &) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A read-only mapping of a whole, non-empty file, unmapped with its owner.
class Mapping {
 public:
  explicit Mapping(const fs::path &path) : size_(fs::file_size(path)) {
    const OpenFile file(path);
    data_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file.fd(), 0);
    if (data_ == MAP_FAILED) throw std::system_error(errno, std::generic_category(), "cannot map " + path.string());
  }
  ~Mapping() { ::munmap(data_, size_); }
  Mapping(const Mapping &) = delete;
  Mapping &operator=(const Mapping &) = delete;
  const volatile uint8_t *bytes() const { return static_cast<const volatile uint8_t *>(data_); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  void *data_;
};

size_t PageSize() { return static_cast<size_t>(::sysconf(_SC_PAGESIZE)); }

// Writes the file's pages back and drops them from the page cache. A count of
// waits for the disk proves something only where dropped pages stay dropped,
// not in a folder held in memory: fails where more than one in eight stayed.
::testing::AssertionResult Drop(const fs::path &path) {
  {
    const OpenFile file(path);
    ::fsync(file.fd());  // dirty pages would stay
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_DONTNEED);
  }
  // Looked up without reading them.
  const Mapping mapping(path);
  std::vector<unsigned char> resident((mapping.size() + PageSize() - 1) / PageSize());
  if (::mincore(const_cast<uint8_t *>(mapping.bytes()), mapping.size(), resident.data()) != 0) {
    throw std::system_error(errno, std::generic_category(), "mincore failed on " + path.string());
  }
  size_t cached = 0;
  for (unsigned char page : resident) cached += page & 1;
  if (cached > resident.size() / 8) {
    return ::testing::AssertionFailure() << cached << " of " << resident.size() << " pages of " << path
                                         << " stayed in the page cache: cold runs cannot be measured there";
  }
  return ::testing::AssertionSuccess();
}

long OwnMajorFaults() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_majflt;
}

// Whether the kernel counts the waits for the disk, checked on a dropped file
// in `folder` read one page at a time: every page should cost a wait.
::testing::AssertionResult ColdReadsAreCounted(const ScratchDir &folder) {
  const fs::path probe = folder.File("probe");
  constexpr size_t kPages = 64;
  vt::WriteFile(probe, vt::Bytes(kPages * PageSize(), 0x5a));
  if (auto dropped = Drop(probe); !dropped) return dropped;
  const Mapping mapping(probe);
  ::madvise(const_cast<uint8_t *>(mapping.bytes()), mapping.size(), MADV_RANDOM);
  const long before = OwnMajorFaults();
  for (size_t i = 0; i < mapping.size(); i += PageSize()) static_cast<void>(mapping.bytes()[i]);
  const long waits = OwnMajorFaults() - before;
  if (waits < static_cast<long>(kPages / 2)) {
    return ::testing::AssertionFailure() << "reading " << kPages << " dropped pages took " << waits
                                         << " major faults: cold runs cannot be measured here";
  }
  return ::testing::AssertionSuccess();
}

// kWeights RAW_OFFSET weights; equal keys hold equal bytes.
vt::ItemSpec WeightNumber(uint64_t i) {
  return vt::Weight("w" + std::to_string(i), 0x1000 + i, kWeightBytes, static_cast<uint8_t>(i));
}

std::vector<vt::ItemSpec> LastWeights() {
  std::vector<vt::ItemSpec> weights;
  for (uint64_t i = 0; i < kWeights; ++i) weights.push_back(WeightNumber(i));
  return weights;
}

// The shared two thirds of the last model's weights and as many bytes of its own.
std::vector<vt::ItemSpec> EarlierWeights() {
  std::vector<vt::ItemSpec> weights;
  for (uint64_t i = 0; i < kWeights; ++i) weights.push_back(WeightNumber(i < kSharedWeights ? i : 0x10000 + i));
  return weights;
}

// One model, or a container with the weights split between two sub-models.
vt::Bytes ModelFile(const std::string &name, const std::vector<vt::ItemSpec> &weights, bool container) {
  if (!container) return vt::BuildModel(vt::SimpleModel(name, weights));
  vt::ContainerSpec spec;
  const auto middle = weights.begin() + static_cast<std::ptrdiff_t>(weights.size() / 2);
  for (const auto &half : {std::vector<vt::ItemSpec>(weights.begin(), middle),
                           std::vector<vt::ItemSpec>(middle, weights.end())}) {
    vt::SubModelSpec sub_model;
    sub_model.name = name + std::to_string(spec.models.size());
    sub_model.bytes = vt::BuildModel(vt::SimpleModel(sub_model.name, half));
    spec.models.push_back(sub_model);
  }
  return vt::BuildContainer(spec);
}

struct Job {
  const char *name;
  const char *suffix;
  bool restore;
};

void PrintTo(const Job &job, std::ostream *out) { *out << job.name; }

class ColdInputs : public ::testing::TestWithParam<Job> {};

TEST_P(ColdInputs, AreReadAheadSoThatAJobWaitsAtMostOncePer64KiBItWrites) {
  const Job &job = GetParam();
  // The build tree lies on a disk; the temp dir may be held in memory.
  const ScratchDir folder(fs::path(COLD_INPUT_FOLDER));
  ASSERT_TRUE(ColdReadsAreCounted(folder));

  const std::string suffix = job.suffix;
  const std::string earlier = folder.File("earlier" + suffix);
  const std::string last = folder.File("last" + suffix);
  const std::string stripped = folder.File("stripped" + suffix);
  const bool container = suffix == ".qdms";
  vt::WriteFile(earlier, ModelFile("earlier", EarlierWeights(), container));
  vt::WriteFile(last, ModelFile("last", LastWeights(), container));

  std::vector<std::string> inputs = {earlier, last};
  std::string output = stripped;
  if (job.restore) {
    const CliResult strip = RunQdmstrip({"--strip", "-o", stripped, "-i", earlier, last});
    ASSERT_EQ(strip.exit_code, 0) << strip.err;
    inputs = {earlier, stripped};
    output = folder.File("restored" + suffix);
  }
  std::vector<std::string> args = {job.restore ? "--restore" : "--strip", "-o", output, "-i"};
  args.insert(args.end(), inputs.begin(), inputs.end());

  ::testing::AssertionResult dropped = ::testing::AssertionSuccess();
  const CliResult run = RunQdmstrip(args, "", "", [&] {
    for (const std::string &input : inputs) {
      if (dropped) dropped = Drop(input);
    }
  });
  ASSERT_TRUE(dropped);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const uint64_t written = fs::file_size(output);
  EXPECT_LE(run.major_faults, static_cast<long>(written / kBytesPerWait))
      << job.name << " wrote " << written << " bytes from cold inputs";
}

INSTANTIATE_TEST_SUITE_P(AllJobs, ColdInputs,
                         ::testing::Values(Job{"strip", ".qdm", false}, Job{"restore", ".qdm", true},
                                           Job{"container_strip", ".qdms", false},
                                           Job{"container_restore", ".qdms", true}),
                         [](const ::testing::TestParamInfo<Job> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vadu::qdmstrip
