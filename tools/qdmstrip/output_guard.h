// Refuses an output path that names one of the inputs: writing it would
// truncate a file that is still mapped and destroy the input.
#pragma once

#include <string>
#include <vector>

namespace vadu::qdmstrip {

// True when `output` exists and is the same file (device and inode) as one of
// `inputs`, however either is spelled. Paths that cannot be examined count as different.
bool OutputNamesAnInput(const std::string &output, const std::vector<std::string> &inputs);

// Prints the refusal and returns false when the output names an input.
bool CheckOutputIsNotAnInput(const std::string &output, const std::vector<std::string> &inputs);

}  // namespace vadu::qdmstrip
