#include "restore_weight.h"

#include <iostream>

namespace vadu::qdmstrip {

int RestoreWeightRun(const std::vector<std::string> & /*inputs*/, const std::string & /*output*/) {
  std::cerr << "[ERROR] Single-model restore is not available yet\n";
  return 1;
}

}  // namespace vadu::qdmstrip
