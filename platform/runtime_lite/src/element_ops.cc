#include "element_ops.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace vadu::sim {
namespace {

template <typename T>
T Read(const uint8_t* element) {
  T value;
  std::memcpy(&value, element, sizeof(T));
  return value;
}

template <typename T>
void Write(uint8_t* element, T value) {
  std::memcpy(element, &value, sizeof(T));
}

template <typename T>
T SaturatingInteger(double value) {
  if (std::isnan(value)) return 0;
  value = std::trunc(value);
  if (value <= static_cast<double>(std::numeric_limits<T>::min())) {
    return std::numeric_limits<T>::min();
  }
  if (value >= static_cast<double>(std::numeric_limits<T>::max())) {
    return std::numeric_limits<T>::max();
  }
  return static_cast<T>(value);
}

float SaturatingFloat(double value) {
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
    return value > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(value);
}

}  // namespace

uint16_t FloatToHalf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const auto sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  const uint32_t magnitude = bits & 0x7fffffffu;
  if (magnitude >= 0x7f800000u) {  // infinity, or NaN kept quiet
    return sign | 0x7c00u | (magnitude > 0x7f800000u ? 0x0200u : 0u);
  }
  if (magnitude >= 0x477ff000u) return sign | 0x7c00u;  // 65520 and up round to infinity
  if (magnitude < 0x38800000u) {  // below 2^-14: a subnormal half, in units of 2^-24
    float small;
    std::memcpy(&small, &magnitude, sizeof small);
    return sign | static_cast<uint16_t>(std::nearbyint(small * 16777216.0f));
  }
  uint32_t half = (magnitude >> 13) - ((127u - 15u) << 10);
  const uint32_t dropped = magnitude & 0x1fffu;
  if (dropped > 0x1000u || (dropped == 0x1000u && (half & 1u) != 0)) ++half;  // carry is right
  return sign | static_cast<uint16_t>(half);
}

float HalfToFloat(uint16_t half) {
  const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
  const uint32_t exponent = (half >> 10) & 0x1fu;
  const uint32_t mantissa = half & 0x3ffu;
  if (exponent == 0) {
    const float magnitude = std::ldexp(static_cast<float>(mantissa), -24);
    return sign != 0 ? -magnitude : magnitude;
  }
  const uint32_t bits = exponent == 0x1fu ? sign | 0x7f800000u | (mantissa << 13)
                                          : sign | ((exponent + 112u) << 23) | (mantissa << 13);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double LoadElement(const uint8_t* element, DataType dtype) {
  switch (dtype) {
    case INT8: return Read<int8_t>(element);
    case UINT8: return Read<uint8_t>(element);
    case INT16: return Read<int16_t>(element);
    case UINT16: return Read<uint16_t>(element);
    case INT32: return Read<int32_t>(element);
    case UINT32: return Read<uint32_t>(element);
    case FLOAT16: return HalfToFloat(Read<uint16_t>(element));
    case FLOAT32: return Read<float>(element);
  }
  return 0;
}

void StoreElement(uint8_t* element, DataType dtype, double value) {
  switch (dtype) {
    case INT8: return Write(element, SaturatingInteger<int8_t>(value));
    case UINT8: return Write(element, SaturatingInteger<uint8_t>(value));
    case INT16: return Write(element, SaturatingInteger<int16_t>(value));
    case UINT16: return Write(element, SaturatingInteger<uint16_t>(value));
    case INT32: return Write(element, SaturatingInteger<int32_t>(value));
    case UINT32: return Write(element, SaturatingInteger<uint32_t>(value));
    case FLOAT16: return Write(element, FloatToHalf(SaturatingFloat(value)));
    case FLOAT32: return Write(element, SaturatingFloat(value));
  }
}

}  // namespace vadu::sim
