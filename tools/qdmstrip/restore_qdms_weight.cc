#include "restore_qdms_weight.h"

#include <iostream>

namespace vadu::qdmstrip {

int RestoreQdmsRun(const std::vector<std::string> & /*inputs*/, const std::string & /*output*/) {
  std::cerr << "[ERROR] Container restore is not available yet\n";
  return 1;
}

}  // namespace vadu::qdmstrip
