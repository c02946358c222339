#include "model_verifier.h"

#include <cstring>

namespace vadu::binary {
namespace {

constexpr size_t kMinBufferSize = 12;
constexpr uint32_t kMaxRootOffset = 0x80000000u;

// The root offset is above 0, below 2^31 and at most the length minus 1.
bool RootOffsetInRange(const uint8_t *data, size_t size) {
  const uint32_t root = flatbuffers::ReadScalar<uint32_t>(data);
  return root > 0 && root < kMaxRootOffset && root <= size - 1;
}

template <typename Root>
bool VerifyRoot(const uint8_t *data, size_t size, const char *identifier) {
  if (data == nullptr || size < kMinBufferSize) return false;
  if (identifier != nullptr && std::memcmp(data + 4, identifier, 4) != 0) return false;
  if (!RootOffsetInRange(data, size)) return false;
  flatbuffers::Verifier verifier(data, size, ModelVerifierOptions());
  return verifier.VerifyBuffer<Root>(identifier);
}

}  // namespace

flatbuffers::Verifier::Options ModelVerifierOptions() {
  flatbuffers::Verifier::Options options;
  options.max_depth = 64;
  options.max_tables = 1000000;
  options.check_alignment = true;
  options.check_nested_flatbuffers = true;
  options.max_size = 0x7FFFFFFFFFFFFFFFull;
  return options;
}

bool VerifyModelBuffer(const uint8_t *data, size_t size) {
  return VerifyRoot<Model>(data, size, kModelIdentifier);
}

bool VerifyModelsBuffer(const uint8_t *data, size_t size) {
  return VerifyRoot<Models>(data, size, kModelsIdentifier);
}

bool VerifyModelRoot(const uint8_t *data, size_t size) {
  if (data == nullptr) return false;
  flatbuffers::Verifier verifier(data, size, ModelVerifierOptions());
  return verifier.VerifyBuffer<Model>(nullptr);
}

bool VerifyModelsRoot(const uint8_t *data, size_t size) {
  if (data == nullptr) return false;
  flatbuffers::Verifier verifier(data, size, ModelVerifierOptions());
  return verifier.VerifyBuffer<Models>(nullptr);
}

}  // namespace vadu::binary
