// Writes the module tests' model to the path given, for the Python tests.
#include <iostream>

#include "module_test_model.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "usage: write_module_test_model PATH\n";
    return 1;
  }
  try {
    vadu::testing::WriteFile(argv[1], vadu::testing::BuildModel(vadu::testing::ModuleTestModel()));
  } catch (const std::exception &e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
