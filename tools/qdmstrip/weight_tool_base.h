// Base of the four qdmstrip tools: owns the builder in which a tool assembles
// its output and offers the shared steps of every job (loading and checking
// inputs, the strict check of a model about to be written, writing a finished
// buffer, checking the written file again). The table-by-table copy comes
// from TableCopy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qdms_generated.h"
#include "table_copy.h"
#include "tool_builder.h"

namespace vadu {
class ReadOnlyMMapFile;
}

namespace vadu::qdmstrip {

inline constexpr const char *kDefaultDumpPath = "./model_verify_failed.bin";
inline constexpr uint64_t kWriteChunkSize = 0x400000;  // 4 MiB

using RawDataOffset = flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>>;

class WeightToolBase : public TableCopy {
 public:
  WeightToolBase();
  virtual ~WeightToolBase();
  WeightToolBase(const WeightToolBase &) = delete;
  WeightToolBase &operator=(const WeightToolBase &) = delete;

  ToolBuilder &builder() { return builder_; }

  // Maps `path` into `file` and checks it as a single model (not strict).
  // The root points into `file`'s mapping; null after an error line.
  static const binary::Model *LoadModelFromFile(ReadOnlyMMapFile &file, const std::string &path);
  // The same for a container.
  static const binary::Models *LoadModelsFromFile(ReadOnlyMMapFile &file, const std::string &path);

  // Schema check of a single-model buffer and, when `strict`, the checks of
  // what the runtime needs and of the stripped-weight convention. Lines go to
  // standard error. Only a schema failure with `dump_on_failure` dumps the
  // buffer, to `dump_path` or, when that is empty, ./model_verify_failed.bin.
  static bool VerifyQdmModel(const uint8_t *data, uint64_t size, bool strict, bool dump_on_failure,
                             const std::string &dump_path);

  // Checks a finished container in memory, then the file written at `path`.
  // Returns 0 when both pass, 1 otherwise.
  static int VerifyQdmsModel(const uint8_t *data, uint64_t size, const std::string &path);

  // Writes `size` bytes in 4 MiB chunks with a progress bar. Returns 0 when
  // the file was written and closed cleanly, 1 otherwise.
  static int WriteBufferToFile(const uint8_t *data, uint64_t size, const std::string &path, const char *label);

  // Strict check of the builder's finished model in memory, then of the file at `path`.
  int VerifyModel(const std::string &path);

  // Copies everything of `source` but its weights and raw data into the
  // builder, next to the caller's weight Binaries and raw-data vector (which
  // must already be in the builder, raw data first), finishes the model,
  // writes it to `output_path` and checks it twice. The file stays on disk
  // when a check fails.
  bool BuildWriteVerify(const binary::Model &source, const OffsetList<binary::Binary> &weights,
                        RawDataOffset raw_data, const std::string &output_path);

  // Room that BuildWriteVerify and the rebuilt weight headers take in the
  // builder for `source`, read from a file of `file_size` bytes: twice what
  // the file holds beside its raw data and its weights' own data, and 1 MiB.
  // The weights' bytes are not in it: callers add what they lay out anew.
  static uint64_t CopiedTablesRoom(const binary::Model &source, uint64_t file_size);

 protected:
  ToolBuilder builder_;
};

}  // namespace vadu::qdmstrip
