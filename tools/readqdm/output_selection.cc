#include "output_selection.h"

#include <array>

namespace vadu::readqdm {
namespace {

constexpr std::array<const char *, 9> kTopLevelKeys = {"info",     "input",   "output",     "quant_info", "mem_usage",
                                                       "weights",  "kernels", "operations", "devices"};
constexpr const char *kModelsKey = "models";
constexpr std::array<const char *, 7> kSubModelKeys = {"info",    "input",   "output",   "quant_info",
                                                       "weights", "kernels", "mem_usage"};

template <size_t N>
void CopySelected(const picojson::object &from, const std::array<const char *, N> &keys,
                  const KeySelected &selected, picojson::object &to) {
  for (const char *key : keys) {
    if (!selected(key)) continue;
    const auto it = from.find(key);
    if (it != from.end()) to[key] = it->second;
  }
}

}  // namespace

picojson::object SelectOutput(const picojson::object &source, const KeySelected &selected) {
  picojson::object output;
  CopySelected(source, kTopLevelKeys, selected, output);
  const auto models = source.find(kModelsKey);
  if (models == source.end() || !selected(kModelsKey) || !models->second.is<picojson::object>()) return output;
  picojson::object sub_models;
  for (const auto &[name, document] : models->second.get<picojson::object>()) {
    picojson::object sub_output;
    if (document.is<picojson::object>()) CopySelected(document.get<picojson::object>(), kSubModelKeys, selected, sub_output);
    sub_models[name] = picojson::value(std::move(sub_output));
  }
  output[kModelsKey] = picojson::value(std::move(sub_models));
  return output;
}

}  // namespace vadu::readqdm
