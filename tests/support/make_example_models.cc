// Writes the example models into the folder given on the command line.
#include <cstdio>

#include "example_models.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 1;
  }
  for (const auto &path : vadu::testing::WriteExampleModels(argv[1])) std::printf("%s\n", path.c_str());
  return 0;
}
