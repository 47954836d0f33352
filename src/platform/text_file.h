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

  Result Open(std::string_view name);
  // Reads the next line (without its end) into `line`.  False at the end
  // of the file; `*error` is set when reading failed (the int form keeps
  // only its code).
  bool ReadLine(std::string* line, Result* error);
  bool ReadLine(std::string* line, int* error);
  Result Close();

 private:
  bool Fill(Result* error);

  FileHandle file_ = kNoFile;
  char buf_[4096];
  std::size_t len_ = 0;
  std::size_t pos_ = 0;
  bool eof_ = false;
};

}  // namespace lw::platform
