// Base of the inspector's readers: each turns one kind of model file into a
// JSON object, with the conversions of the schema tables they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <flatbuffers/flatbuffers.h>
#include <picojson.h>

#include "qdms_generated.h"

namespace vadu {

template <typename T>
using TableVector = flatbuffers::Vector<flatbuffers::Offset<T>>;

class BinaryJsonReader {
 public:
  // True when the bytes were accepted; `json` then holds the document object.
  virtual bool ParseToJson(const void *data, size_t size) = 0;
  virtual ~BinaryJsonReader();

  // Null until a parse succeeds.
  picojson::value json;

 protected:
  // Every conversion takes nullable pointers: an absent field shows in its
  // empty form ("", [], {} or the schema default).
  picojson::value Jv(const char *text) const;
  picojson::value Jv(const flatbuffers::String *text) const;
  template <typename Iterator>
  picojson::value Jv(Iterator begin, Iterator end) const {
    picojson::array values;
    for (Iterator it = begin; it != end; ++it) values.emplace_back(static_cast<int64_t>(*it));
    return picojson::value(std::move(values));
  }
  // Elements are copied out byte-wise: the verifier checks the alignment of a
  // vector's length, not of its elements, so a 64-bit element of a verified
  // file may sit at any multiple of four.
  template <typename T>
  picojson::value IntegerArray(const flatbuffers::Vector<T> *values) const {
    picojson::array array;
    if (values == nullptr) return picojson::value(std::move(array));
    const uint8_t *bytes = values->Data();
    for (flatbuffers::uoffset_t i = 0; i < values->size(); ++i) {
      T value;
      std::memcpy(&value, bytes + i * sizeof(T), sizeof(T));
      array.emplace_back(static_cast<int64_t>(value));
    }
    return picojson::value(std::move(array));
  }

  picojson::value GetTensorInfo(const binary::TensorInfo *tensor) const;
  picojson::value GetTensorInfos(const TableVector<binary::TensorInfo> *tensors) const;
  picojson::value GetSubTensors(const TableVector<binary::SubTensor> *subs) const;
  picojson::value GetBinaryInfos(const TableVector<binary::Binary> *binaries) const;
  picojson::value GetQuantInfos(const TableVector<binary::TensorQuant> *quants) const;
  picojson::value GetAttribute(const TableVector<binary::Attribute> *attrs) const;
};

// JSON values for the schema's scalar kinds. Unsigned 64-bit values keep their
// bits, so 2^63 and above print negative; floats that JSON cannot hold (NaN,
// infinities) become null.
picojson::value JsonInteger(int64_t value);
picojson::value JsonUnsigned(uint64_t value);
picojson::value JsonNumber(float value);

// The "dtype" text: the type code's name followed by the bit count.
std::string DataTypeText(const binary::DataType *dtype);

// Sets one member per attribute name (ascending; the last of a name wins): the
// text of a string attribute, `placeholder` for any other value.
void AddAttributeTexts(const TableVector<binary::Attribute> *attrs, const char *placeholder,
                       picojson::object &object);

}  // namespace vadu
