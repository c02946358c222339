// Picks the printable keys out of a reader's document.
#pragma once

#include <functional>
#include <string>

#include <picojson.h>

namespace vadu::readqdm {

// Whether the key of that name was asked for.
using KeySelected = std::function<bool(const std::string &key)>;

// Copies the selected top-level keys and, when "models" is selected, the
// selected keys of every sub-model. Keys that are not options never qualify.
picojson::object SelectOutput(const picojson::object &source, const KeySelected &selected);

}  // namespace vadu::readqdm
