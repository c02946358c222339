#include "model_document.h"

#include <memory>
#include <vector>

#include "qdm_reader.h"
#include "qdms_reader.h"

namespace vadu::readqdm {

std::optional<picojson::value> ParseModelDocument(const void *data, size_t size) {
  const std::vector<std::shared_ptr<BinaryJsonReader>> readers = {std::make_shared<QdmReader>(),
                                                                  std::make_shared<QdmsReader>()};
  for (const auto &reader : readers) {
    if (reader->ParseToJson(data, size)) return reader->json;
  }
  return std::nullopt;
}

}  // namespace vadu::readqdm
