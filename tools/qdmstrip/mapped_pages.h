// How a job treats the pages of the inputs it copies bytes out of. Inputs are
// mapped for random access, so a page that is not in the page cache is read
// from the disk on its own, one fault at a time; before a job copies out of a
// mapping it says that it reads it in order, and the kernel reads ahead. Once
// a job has copied a weight, it lets go of its pages: the pages of a
// read-only file mapping that a job has read count towards its memory, and
// dropping the ones a weight covered keeps a job's peak near the size of what
// it builds. A private file mapping refills dropped pages from the file when
// they are read again, so the bytes stay valid.
#pragma once

#include <cstdint>
#include <span>

namespace vadu {
class ReadOnlyMMapFile;
}

namespace vadu::qdmstrip {

// Advises reading the whole of `input` in order. The whole mapping is advised
// at once: advice on a part of it splits the mapping in the kernel, and one
// split per weight would reach the limit of mappings a process may hold.
void ReadAheadForCopying(const ReadOnlyMMapFile &input);

// Drops the whole pages inside `bytes`, and only when they lie in a mapping
// made by ReadOnlyMMapFile::Init; anything else (heap memory above all) is left alone.
void ReleaseCopiedPages(std::span<const uint8_t> bytes);

}  // namespace vadu::qdmstrip
