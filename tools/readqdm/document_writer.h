// Puts the serialised JSON document on standard output or into the
// --save_json file, and makes sure the bytes really got there.
#pragma once

#include <string>

namespace vadu::readqdm {

// Writes `text` to standard output when `save_path` is empty, otherwise to a
// new or truncated file at `save_path`. Returns false when the text did not
// reach its target: a file that cannot be opened fails silently, a write,
// flush or close that fails is reported on standard error.
bool WriteDocument(const std::string &text, const std::string &save_path);

}  // namespace vadu::readqdm
