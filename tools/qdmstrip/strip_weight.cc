#include "strip_weight.h"

#include <iostream>

namespace vadu::qdmstrip {

int StripWeightRun(const std::vector<std::string> & /*inputs*/, const std::string & /*output*/) {
  std::cerr << "[ERROR] Single-model strip is not available yet\n";
  return 1;
}

}  // namespace vadu::qdmstrip
