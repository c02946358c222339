// Per-model bookkeeping that every single-model reader carries. The inspector
// builds it empty and never fills or reads it.
#pragma once

namespace vadu::binary {

struct ModelManager {};

}  // namespace vadu::binary
