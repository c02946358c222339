#include "model_file.h"

#include <filesystem>
#include <fstream>
#include <set>

#include "model_verifier.h"
#include "qdm_generated.h"

namespace vadu::detail {
namespace {

namespace vb = vadu::binary;

Status Fail(std::string *error, Status status, const std::string &message) {
  if (error) *error = message;
  return status;
}

Status ReadTensors(const flatbuffers::Vector<flatbuffers::Offset<vb::TensorInfo>> *list, const char *role,
                   std::vector<ModelTensor> *out, std::string *error) {
  out->clear();
  if (!list) return OK;
  std::set<std::string> names;
  for (const vb::TensorInfo *info : *list) {
    ModelTensor tensor;
    if (!info->name() || info->name()->size() == 0)
      return Fail(error, INVALID_ARGUMENT, std::string("an ") + role + " has no name");
    tensor.name = info->name()->str();
    if (!names.insert(tensor.name).second)
      return Fail(error, INVALID_ARGUMENT, std::string(role) + " name '" + tensor.name + "' is repeated");
    tensor.format = info->format();
    if (const vb::DataType *dtype = info->dtype()) {
      tensor.has_dtype = true;
      tensor.type_code = dtype->code();
      tensor.type_bits = dtype->bits();
    }
    if (info->shape()) {
      for (int64_t dim : *info->shape()) {
        if (dim < 0)
          return Fail(error, INVALID_ARGUMENT, std::string(role) + " '" + tensor.name + "' has a negative dimension");
        tensor.shape.push_back(dim);
      }
    }
    out->push_back(std::move(tensor));
  }
  return OK;
}

}  // namespace

Status ReadModelFile(const std::string &path, uint64_t offset, uint64_t size, ModelDescription *model,
                     std::string *error) {
  std::error_code ec;
  const uint64_t file_size = std::filesystem::file_size(path, ec);
  if (ec) return Fail(error, UNAVAILABLE, "cannot read " + path + ": " + ec.message());
  if (offset > file_size || size > file_size - offset)
    return Fail(error, OUT_OF_RANGE, "model range lies outside " + path);
  if (size == 0) size = file_size - offset;

  std::vector<uint8_t> bytes(size);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(size));
  if (!in) return Fail(error, UNAVAILABLE, "cannot read " + path);

  if (!vb::VerifyModelBuffer(bytes.data(), bytes.size()))
    return Fail(error, INVALID_ARGUMENT, path + " is not a valid model");
  const vb::Model *root = vb::GetModel(bytes.data());

  ModelDescription result;
  if (root->name()) result.name = root->name()->str();
  if (root->custom_msg()) result.custom_msg = root->custom_msg()->str();
  if (root->model_version()) result.version = std::to_string(root->model_version()->version());
  if (root->config()) result.core_num = root->config()->core_num();
  if (Status s = ReadTensors(root->inputs(), "input", &result.inputs, error); s != OK) return s;
  if (Status s = ReadTensors(root->outputs(), "output", &result.outputs, error); s != OK) return s;
  *model = std::move(result);
  return OK;
}

}  // namespace vadu::detail
