// readqdm's option table and the rule that turns options into selected keys.
#pragma once

#include <string>

#include <argparse/argparse.hpp>

namespace vadu::readqdm {

inline constexpr const char *kProgramName = "readqdm";
inline constexpr const char *kVersion = "1.0";

// Adds the positional model path, --save_json and the selection flags.
void AddArguments(argparse::ArgumentParser &parser);

// Whether the option prefix + key is on, or --all is. A name that is not an
// option (such as "--weights") is off, so --all cannot turn it on.
bool GetArgs(const argparse::ArgumentParser &parser, const std::string &key, const std::string &prefix = "--");

}  // namespace vadu::readqdm
