#include "readqdm_app.h"

#include <exception>
#include <iostream>
#include <string>

#include <argparse/argparse.hpp>

#include "command_line.h"
#include "document_writer.h"
#include "model_document.h"
#include "output_selection.h"
#include "vadu_log.h"
#include "vadu_mmap.h"

namespace vadu::readqdm {
namespace {

constexpr int kFailure = -1;

}  // namespace

int RunReadQdm(int argc, const char *const argv[]) {
  argparse::ArgumentParser parser(kProgramName, kVersion, argparse::default_arguments::all, true, std::cout);
  AddArguments(parser);
  try {
    parser.parse_args(argc, argv);
  } catch (const std::exception &error) {
    std::cerr << error.what() << std::endl;
    std::cerr << parser;
    return kFailure;
  }

  const std::string path = parser.get<std::string>("qdm");
  if (path.empty()) return kFailure;
  ReadOnlyMMapFile file;
  // Failing to open is an error, not an empty success.
  if (!file.Init(path)) {
    VADU_LOG_ERROR << "Failed to open model file: " << path;
    return kFailure;
  }
  const std::optional<picojson::value> source = ParseModelDocument(file.data(), file.size());
  if (!source) {
    VADU_LOG_ERROR << "Not supported model type!";
    return kFailure;
  }

  const auto selected = [&parser](const std::string &key) { return GetArgs(parser, key); };
  const picojson::value output(SelectOutput(source->get<picojson::object>(), selected));
  return WriteDocument(output.serialize(true), parser.get<std::string>("--save_json")) ? 0 : kFailure;
}

}  // namespace vadu::readqdm
