#include "tool_options.h"

#include <iostream>
#include <string_view>

#include "path_suffix.h"

namespace vadu::qdmstrip {
namespace {

constexpr const char *kUsage =
    "Usage:\n"
    "  qdmstrip [--strip|-s | --restore|-r] -o OUT -i IN1 IN2 [IN3 ...]\n"
    "Options:\n"
    "  --strip, -s       Strip shared weights from the last input model.\n"
    "  --restore, -r     Restore a stripped model using previous source models.\n"
    "  -o, --output      Output path (.qdm or .qdms).\n"
    "  -i, --inputs      Input models (provide at least 2).\n"
    "  -h, --help        Show this help and exit.\n"
    "\n"
    "Examples:\n"
    "  qdmstrip --strip -o C.out.qdm -i A.qdm B.qdm C.qdm\n"
    "  qdmstrip -r -o C.re.qdms -i A.qdms B.qdms C.out.qdms\n"
    "Notes:\n"
    "  - All inputs must share the same suffix (.qdm or .qdms).\n"
    "  - For --strip: last input is the model to strip (equal to other inputs list).\n"
    "  - For --restore: last input is the stripped model to be restored, previous inputs are sources.\n";

bool FailWithUsage(const char *message) {
  std::cerr << message;
  PrintToolUsage();
  return false;
}

// Checks 4 to 6: one suffix for every input and the output, decided by the last input.
bool CheckSuffixes(const ToolOptions &options) {
  const std::string &last = options.inputs.back();
  const bool container = EndsWithIgnoreCase(last, kContainerSuffix);
  if (!container && !EndsWithIgnoreCase(last, kModelSuffix)) {
    std::cerr << "[ERROR] Last input must end with .qdm or .qdms\n";
    return false;
  }
  const std::string_view suffix = container ? kContainerSuffix : kModelSuffix;
  for (const std::string &input : options.inputs) {
    if (!EndsWithIgnoreCase(input, suffix)) {
      std::cerr << (container ? "[ERROR] All inputs must be .qdms when last input is .qdms: "
                              : "[ERROR] All inputs must be .qdm when last input is .qdm: ")
                << input << "\n";
      return false;
    }
  }
  if (!EndsWithIgnoreCase(options.output, suffix)) {
    std::cerr << (container ? "[ERROR] Output must use .qdms when inputs are .qdms\n"
                            : "[ERROR] Output must use .qdm when inputs are .qdm\n");
    return false;
  }
  return true;
}

bool CheckOptions(const ToolOptions &options) {
  if (options.strip == options.restore) {
    return FailWithUsage("[ERROR] Must specify exactly one of --strip/-s or --restore/-r\n");
  }
  if (options.output.empty()) return FailWithUsage("[ERROR] Missing output (-o/--output).\n");
  if (options.inputs.size() < 2) return FailWithUsage("[ERROR] Need at least 2 input models via -i/--inputs\n");
  return CheckSuffixes(options);
}

}  // namespace

void PrintToolUsage() { std::cerr << kUsage; }

bool ParseAndValidateToolArgs(int argc, const char *const *argv, ToolOptions &options) {
  if (argc < 2) {
    PrintToolUsage();
    return false;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--strip" || arg == "-s") {
      options.strip = true;
    } else if (arg == "--restore" || arg == "-r") {
      options.restore = true;
    } else if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc) return FailWithUsage("[ERROR] Missing argument for -o/--output\n");
      options.output = argv[++i];
    } else if (arg == "-i" || arg == "--inputs") {
      // Everything after the switch is an input path, even what looks like an option.
      if (i + 1 >= argc) return FailWithUsage("[ERROR] Missing inputs after -i/--inputs\n");
      options.inputs.assign(argv + i + 1, argv + argc);
      break;
    } else if (arg == "-h" || arg == "--help") {
      PrintToolUsage();
      return false;
    }
    // Any other argument is ignored.
  }
  return CheckOptions(options);
}

}  // namespace vadu::qdmstrip
