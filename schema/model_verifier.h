// Verification of single-model (.qdm) and container (.qdms) buffers with the
// options every reader and writer of the project agrees on.
#pragma once

#include <cstddef>
#include <cstdint>

#include <flatbuffers/flatbuffers.h>

#include "qdms_generated.h"

namespace vadu::binary {

inline constexpr const char *kModelIdentifier = "QDM0";
inline constexpr const char *kModelsIdentifier = "QDMS";

// Depth 64, 1,000,000 tables, alignment checked, nested buffers checked, and a
// 64-bit size limit so that models above 2 GiB verify.
flatbuffers::Verifier::Options ModelVerifierOptions();

// Full check of a single model: length, identifier "QDM0", root offset, root table.
bool VerifyModelBuffer(const uint8_t *data, size_t size);
// Full check of a container: the same steps with "QDMS" and the root Models.
bool VerifyModelsBuffer(const uint8_t *data, size_t size);

// Root table only, the identifier is not looked at (the inspector's way).
bool VerifyModelRoot(const uint8_t *data, size_t size);
bool VerifyModelsRoot(const uint8_t *data, size_t size);

}  // namespace vadu::binary
