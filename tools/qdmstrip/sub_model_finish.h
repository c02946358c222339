// The part of a container's sub-model rebuild that both container modes
// share: everything of the source sub-model but its weights and raw data.
#pragma once

#include "qdm_generated.h"
#include "table_copy.h"
#include "tool_builder.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {

// A generous estimate of what FinishSubModel and the weight headers add to a
// builder, so that a builder reserved for it never copies its raw data while
// it grows. The weights' bytes are not in it: callers add what they write.
uint64_t EstimateCopiedTables(const binary::Model &source);

// A new version record with the source's version and magic, or their
// defaults when the source has none.
flatbuffers::Offset<binary::ModelVersion> CopyModelVersion(ToolBuilder &builder, const binary::Model &source);

// Copies kernels, workspace, inputs, outputs, quantisation, config and
// attributes of `source` (every vector written, empty ones included, as the
// runtime needs them), adds the caller's raw data, version and weights, and
// finishes the buffer with "QDM0".
void FinishSubModel(ToolBuilder &builder, const binary::Model &source, RawDataOffset raw_data,
                    flatbuffers::Offset<binary::ModelVersion> version, const OffsetList<binary::Binary> &weights);

}  // namespace vadu::qdmstrip
