// Recognises a model file by the schema that verifies it.
#pragma once

#include <cstddef>
#include <optional>

#include <picojson.h>

namespace vadu::readqdm {

// The document of the first reader that accepts the bytes: the single-model
// reader, then the container reader. Neither suffix nor identifier decides.
std::optional<picojson::value> ParseModelDocument(const void *data, size_t size);

}  // namespace vadu::readqdm
