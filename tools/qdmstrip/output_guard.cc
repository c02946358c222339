#include "output_guard.h"

#include <sys/stat.h>

#include <iostream>

namespace vadu::qdmstrip {

bool OutputNamesAnInput(const std::string &output, const std::vector<std::string> &inputs) {
  struct stat out_stat {};
  if (::stat(output.c_str(), &out_stat) != 0) return false;
  for (const std::string &input : inputs) {
    struct stat in_stat {};
    if (::stat(input.c_str(), &in_stat) != 0) continue;
    if (in_stat.st_dev == out_stat.st_dev && in_stat.st_ino == out_stat.st_ino) return true;
  }
  return false;
}

bool CheckOutputIsNotAnInput(const std::string &output, const std::vector<std::string> &inputs) {
  if (!OutputNamesAnInput(output, inputs)) return true;
  std::cerr << "[ERROR] Output must not overwrite an input: " << output << "\n";
  return false;
}

}  // namespace vadu::qdmstrip
