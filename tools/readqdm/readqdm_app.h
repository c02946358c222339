// The whole run of readqdm: parse the command line, map the model, recognise
// it, select keys and print or save the JSON document.
#pragma once

namespace vadu::readqdm {

// Returns the exit code: 0 on success, -1 on every reported failure.
int RunReadQdm(int argc, const char *const argv[]);

}  // namespace vadu::readqdm
