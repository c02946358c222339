#include "progress_bar.h"

#include <algorithm>
#include <iostream>
#include <string>

namespace vadu::qdmstrip {
namespace {

constexpr int kBarCells = 50;
// Callers never pass current above total; the cap only keeps the casts defined if one does.
constexpr float kCastCap = 1e15f;

}  // namespace

void ShowProgressBar(const std::string &label, uint64_t current, uint64_t total) {
  float ratio = 1.0f;
  int filled = kBarCells;
  if (total != 0) {
    ratio = static_cast<float>(current) / static_cast<float>(total);
    filled = static_cast<int>(std::min(static_cast<float>(kBarCells) * ratio, static_cast<float>(kBarCells + 1)));
  }
  std::string cells(kBarCells, ' ');
  for (int i = 0; i < kBarCells; ++i) {
    if (i < filled) {
      cells[i] = '=';
    } else if (i == filled) {
      cells[i] = '>';
    }
  }
  std::cout << "\r[" << label << "] Progress: [" << cells << "] " << static_cast<int64_t>(std::min(ratio * 100.0f, kCastCap)) << "% ("
            << current << "/" << total << ")" << std::flush;
  if (current == total) std::cout << "\n" << std::flush;
}

}  // namespace vadu::qdmstrip
