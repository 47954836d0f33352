// Line-oriented text files on top of the platform's file calls.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw::platform {

// Reads a text file line by line.  A line ends at LF; a CR before the LF
// is dropped, and so is a CR standing alone as a line end.
class TextReader {
 public:
  TextReader() = default;
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  int Open(std::string_view name);  // 0 or a DOS-style code
  // Reads the next line (without its end) into `line`.  False at the end
  // of the file; `*error` is set when reading failed.
  bool ReadLine(std::string* line, int* error);
  int Close();

 private:
  bool Fill(int* error);

  FileHandle file_ = kNoFile;
  char buf_[4096];
  std::size_t len_ = 0;
  std::size_t pos_ = 0;
  bool eof_ = false;
};

}  // namespace lw::platform
