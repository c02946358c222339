// Dumping a module's bound tensors to .npy files and feeding them back.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include <picojson.h>

#include "module_state.h"
#include "npy_file.h"

namespace vadu {
namespace {

namespace fs = std::filesystem;

constexpr const char* MODEL_JSON = "model.json";

const char* NpyDescr(DataType dtype) {
  switch (dtype) {
    case INT8: return "|i1";
    case UINT8: return "|u1";
    case INT16: return "<i2";
    case UINT16: return "<u2";
    case INT32: return "<i4";
    case UINT32: return "<u4";
    case FLOAT16: return "<f2";
    case FLOAT32: return "<f4";
  }
  return "";
}

// The element type a descr names (npy::ItemSize has checked its byte order).
std::optional<DataType> DescrType(const std::string& descr) {
  if (!npy::ItemSize(descr)) return std::nullopt;
  const std::string key = descr.substr(1);
  for (DataType dtype : {INT8, UINT8, INT16, UINT16, INT32, UINT32, FLOAT16, FLOAT32}) {
    if (key == std::string(NpyDescr(dtype)).substr(1)) return dtype;
  }
  return std::nullopt;
}

// How a tensor of this description is stored: ND with its own shape and type,
// everything else as its bytes.
std::string StoredDescr(const TensorInfo& info) { return info.Format() == ND ? NpyDescr(info.DataType()) : "|u1"; }

std::vector<int64_t> StoredShape(const TensorInfo& info) {
  if (info.Format() == ND) return info.Shape();
  return {static_cast<int64_t>(detail::DataExtent(info))};
}

void Warn(const std::string& message) { std::cerr << "[WARN] LoadDumpInput: " << message << "\n"; }

Status DumpSlots(const std::vector<detail::TensorSlot>& slots, const char* role, const fs::path& dir,
                 picojson::array* entries) {
  for (size_t i = 0; i < slots.size(); ++i) {
    const detail::TensorSlot& slot = slots[i];
    if (!slot.IsBound()) continue;
    const std::optional<std::vector<uint8_t>> bytes = detail::ReadTensorBytes(slot.bound, slot.info);
    if (!bytes) return INVALID_ARGUMENT;
    const std::string file = std::string(role) + "_" + std::to_string(i) + ".npy";
    std::string error;
    if (!npy::Write(dir / file, StoredDescr(slot.info), StoredShape(slot.info), bytes->data(), bytes->size(),
                    &error)) {
      std::cerr << "[ERROR] DumpInOut: " << error << "\n";
      return UNAVAILABLE;
    }
    picojson::object entry;
    entry["name"] = picojson::value(slot.name);
    entry["file"] = picojson::value(file);
    entry["format"] = picojson::value(detail::DataFmtName(slot.info.Format()));
    entry["dtype"] = picojson::value(detail::DataTypeName(slot.info.DataType()));
    picojson::array shape;
    for (int64_t dim : slot.info.Shape()) shape.emplace_back(dim);
    entry["shape"] = picojson::value(shape);
    entries->emplace_back(entry);
  }
  return OK;
}

struct ListedFile {
  bool input = false;
  std::string tensor;
};

// File name -> what model.json says it holds. Entries without a string name
// and file are ignored.
std::map<std::string, ListedFile> ListedFiles(const picojson::value& doc) {
  std::map<std::string, ListedFile> files;
  for (const char* role : {"inputs", "outputs"}) {
    const picojson::value& list = doc.get(role);
    if (!list.is<picojson::array>()) continue;
    for (const picojson::value& entry : list.get<picojson::array>()) {
      if (!entry.get("name").is<std::string>() || !entry.get("file").is<std::string>()) continue;
      files[entry.get("file").get<std::string>()] = {std::string(role) == "inputs", entry.get("name").get<std::string>()};
    }
  }
  return files;
}

// Feeds one dumped input into its slot; the reason on failure.
std::optional<std::string> FeedInput(detail::TensorSlot& slot, const fs::path& file) {
  std::string error;
  const std::optional<npy::Array> array = npy::Read(file, &error);
  if (!array) return error;
  const TensorInfo& info = slot.info;
  const bool matches = info.Format() == ND ? DescrType(array->descr) == info.DataType() && array->shape == info.Shape()
                                           : DescrType(array->descr) == UINT8 && array->data.size() == detail::DataExtent(info);
  if (!matches) return "element type or shape does not match input '" + slot.name + "'";
  if (slot.IsBound()) {
    if (detail::WriteTensorBytes(slot.bound, info, array->data) != OK) return "cannot write input '" + slot.name + "'";
    return std::nullopt;
  }
  Tensor host = detail::MakeHostTensor(info, array->data);
  if (host.GetInitStatus() != OK) return "cannot make a tensor for input '" + slot.name + "'";
  slot.bound = host;
  return std::nullopt;
}

}  // namespace

Status Module::DumpInOut(const std::string& path) {
  if (state_->status != OK) return UNINITIALIZED;
  const fs::path dir(path);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    std::cerr << "[ERROR] DumpInOut: cannot create " << path << ": " << ec.message() << "\n";
    return UNAVAILABLE;
  }
  picojson::array inputs, outputs;
  if (Status status = DumpSlots(state_->inputs, "input", dir, &inputs); status != OK) return status;
  if (Status status = DumpSlots(state_->outputs, "output", dir, &outputs); status != OK) return status;
  picojson::object doc;
  doc["model"] = picojson::value(state_->name);
  doc["inputs"] = picojson::value(inputs);
  doc["outputs"] = picojson::value(outputs);
  std::ofstream out(dir / MODEL_JSON, std::ios::trunc);
  out << picojson::value(doc).serialize(true);
  out.close();
  if (!out) {
    std::cerr << "[ERROR] DumpInOut: cannot write " << (dir / MODEL_JSON).string() << "\n";
    return UNAVAILABLE;
  }
  return OK;
}

Status Module::LoadDumpInput(const std::string& path) {
  if (state_->status != OK) return UNINITIALIZED;
  const fs::path dir(path);
  std::ifstream in(dir / MODEL_JSON);
  std::stringstream text;
  text << in.rdbuf();
  picojson::value doc;
  if (!in || !picojson::parse(doc, text.str()).empty() || !doc.is<picojson::object>()) {
    std::cerr << "[ERROR] LoadDumpInput: no readable " << MODEL_JSON << " in " << path << "\n";
    return INVALID_ARGUMENT;
  }
  const std::map<std::string, ListedFile> listed = ListedFiles(doc);

  std::error_code ec;
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) files.push_back(entry.path());
  if (ec) {
    std::cerr << "[ERROR] LoadDumpInput: cannot list " << path << ": " << ec.message() << "\n";
    return UNAVAILABLE;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    if (name == MODEL_JSON) continue;
    const auto found = listed.find(name);
    if (found == listed.end() || !fs::is_regular_file(file)) {
      Warn("skipping " + name + ": not recognised");
      continue;
    }
    if (!found->second.input) continue;
    detail::TensorSlot* slot = detail::FindSlot(state_->inputs, found->second.tensor);
    if (!slot) {
      Warn("skipping " + name + ": '" + found->second.tensor + "' is not an input of this module");
      continue;
    }
    if (const std::optional<std::string> reason = FeedInput(*slot, file)) Warn("skipping " + name + ": " + *reason);
  }
  return OK;
}

}  // namespace vadu
