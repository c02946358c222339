#include "command_line.h"

#include <stdexcept>

namespace vadu::readqdm {
namespace {

// A flag whose value when not given is set explicitly after flag().
void AddFlag(argparse::ArgumentParser &parser, const char *name, bool value_when_absent, const char *help) {
  parser.add_argument(name).help(help).flag().default_value(value_when_absent);
}

}  // namespace

void AddArguments(argparse::ArgumentParser &parser) {
  parser.add_argument("qdm").help("The qdm model build by qdcc").required();
  parser.add_argument("--save_json").help("save all into a json file").default_value(std::string());
  // --info cannot be switched off: it is on whether given or not.
  AddFlag(parser, "--info", true, "show the memory info, default is true");
  AddFlag(parser, "--all", false, "show all message");
  AddFlag(parser, "--mem_usage", false, "show estimate device memory usage");
  AddFlag(parser, "--input", false, "show input infos in the model");
  AddFlag(parser, "--output", false, "show output infos in the model");
  AddFlag(parser, "--quant_info", false, "show the quant info in qdm and qdms");
  AddFlag(parser, "--models", false, "show the sub models in qdms, only works in qdms");
}

bool GetArgs(const argparse::ArgumentParser &parser, const std::string &key, const std::string &prefix) {
  try {
    if (parser.get<bool>(prefix + key)) return true;
    return parser.get<bool>("--all");
  } catch (const std::logic_error &) {
    return false;
  }
}

}  // namespace vadu::readqdm
