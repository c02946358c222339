#include "document_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

namespace vadu::readqdm {
namespace {

// A plain line on standard error rather than a log line: the logger writes to
// standard output by default, which may be the very stream that failed, and it
// can be silenced, so the failure would go unseen.
void ReportWriteFailure(const std::string &target, int error) {
  std::cerr << "[ERROR] Failed to write JSON output: " << target;
  if (error != 0) std::cerr << ": " << std::strerror(error);
  std::cerr << std::endl;
}

// std::cout hands its bytes to stdio, which keeps them in its buffer until a
// flush: only the flush tells whether they were written.
bool WriteToStandardOutput(const std::string &text) {
  errno = 0;
  std::cout << text;
  std::cout.flush();
  const bool written = static_cast<bool>(std::cout) && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (!written) ReportWriteFailure("standard output", errno);
  return written;
}

bool WriteToFile(const std::string &text, const std::string &path) {
  std::ofstream out(path, std::ios::out);
  if (!out.is_open()) return false;
  errno = 0;
  out << text;
  // The file buffer is flushed by close: its failure, or that of close itself, leaves failbit set.
  out.close();
  if (out) return true;
  ReportWriteFailure(path, errno);
  return false;
}

}  // namespace

bool WriteDocument(const std::string &text, const std::string &save_path) {
  return save_path.empty() ? WriteToStandardOutput(text) : WriteToFile(text, save_path);
}

}  // namespace vadu::readqdm
