// readqdm from the bytes of a model file to the printed JSON: each reader on
// its own (the whole document, keys that never print included), then the
// program itself on the bytes written to a file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "model_document.h"
#include "output_selection.h"
#include "qdm_reader.h"
#include "qdms_reader.h"
#include "readqdm_app.h"

namespace {

void ParseAndPrint(vadu::BinaryJsonReader &reader, const vadu::fuzz::PageAlignedCopy &bytes) {
  if (reader.ParseToJson(bytes.data(), bytes.size())) {
    volatile size_t length = reader.json.serialize(true).size();
    (void)length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vadu::fuzz::QuietProcess();
  vadu::fuzz::ScratchDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const vadu::fuzz::PageAlignedCopy bytes(data, size);
  vadu::QdmReader single;
  ParseAndPrint(single, bytes);
  vadu::QdmsReader container;
  ParseAndPrint(container, bytes);

  // Every key the readers produce is selected here, so nothing escapes the
  // copy into the output document.
  if (const auto document = vadu::readqdm::ParseModelDocument(bytes.data(), bytes.size())) {
    const auto everything = [](const std::string &) { return true; };
    volatile size_t length =
        picojson::value(vadu::readqdm::SelectOutput(document->get<picojson::object>(), everything))
            .serialize(true)
            .size();
    (void)length;
  }

  const std::string path = (vadu::fuzz::ScratchDir() / "input.qdm").string();
  vadu::fuzz::WriteBytes(path, data, size);
  const char *const argv[] = {"readqdm", "--all", path.c_str()};
  vadu::readqdm::RunReadQdm(3, argv);
  return 0;
}
