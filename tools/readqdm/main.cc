#include "readqdm_app.h"

int main(int argc, char **argv) { return vadu::readqdm::RunReadQdm(argc, argv); }
