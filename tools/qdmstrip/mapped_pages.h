// Lets go of mapped input pages once their bytes have been copied. The pages
// of a read-only file mapping that a job has read count towards its memory;
// dropping the ones a weight covered keeps a job's peak near the size of what
// it builds. A private file mapping refills dropped pages from the file when
// they are read again, so the bytes stay valid.
#pragma once

#include <cstdint>
#include <span>

namespace vadu::qdmstrip {

// Drops the whole pages inside `bytes`, and only when they lie in a mapping
// made by ReadOnlyMMapFile::Init; anything else (heap memory above all) is left alone.
void ReleaseCopiedPages(std::span<const uint8_t> bytes);

}  // namespace vadu::qdmstrip
