// Random but reproducible sets of models that share weights, for the
// strip/restore round trip. Every weight's bytes depend only on its key, so a
// key means the same bytes in every model, as the tools assume. Within C, keys
// used in RAW_OFFSET blobs and keys used in embedded blobs never meet; an
// earlier model may hold a key in a blob of the other kind. The alignments one
// key is given always divide each other (0 aside).
#pragma once

#include <cstdint>
#include <vector>

#include "model_factory.h"

namespace vadu::qdmstrip::testing {

// The bytes every weight with this key holds.
vadu::testing::Bytes KeyBytes(uint64_t hash, uint64_t size);

struct ModelSet {
  std::vector<vadu::testing::ModelSpec> earlier;  // the models C is stripped against
  vadu::testing::ModelSpec last;                  // C
};

// Two or three earlier models and C, from one seed.
ModelSet GenerateModelSet(uint64_t seed);

// An earlier model holding two large embedded weights, and C, beside a raw
// weight, with one embedded Binary of four such weights (the earlier two
// first) and a second Binary that shares its data vector, addressing the
// second and fourth weights in it.
ModelSet SharedDataModelSet();

}  // namespace vadu::qdmstrip::testing
