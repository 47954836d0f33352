#include "platform/text_file.h"

namespace lw::platform {

TextReader::~TextReader() { Close(); }

Result TextReader::Open(std::string_view name) {
  Close();
  len_ = pos_ = 0;
  eof_ = false;
  return Os().OpenFile(name, Access::kRead, Sharing::kDenyWrite, &file_);
}

bool TextReader::Fill(Result* error) {
  if (eof_) return false;
  std::size_t got = 0;
  const Result rc = Os().ReadFile(file_, buf_, sizeof buf_, &got);
  if (rc != kOk) {
    *error = rc;
    eof_ = true;
    return false;
  }
  len_ = got;
  pos_ = 0;
  if (got == 0) eof_ = true;
  return got > 0;
}

bool TextReader::ReadLine(std::string* line, int* error) {
  Result result;
  const bool read = ReadLine(line, &result);
  *error = result;
  return read;
}

bool TextReader::ReadLine(std::string* line, Result* error) {
  line->clear();
  *error = kOk;
  if (file_ == kNoFile) return false;
  bool any = false;
  for (;;) {
    if (pos_ >= len_ && !Fill(error)) return any;
    any = true;
    char c = buf_[pos_++];
    if (c == '\n') return true;
    if (c == '\r') {
      if (pos_ >= len_ && !Fill(error)) return true;
      if (buf_[pos_] == '\n') ++pos_;
      return true;
    }
    line->push_back(c);
  }
}

Result TextReader::Close() {
  if (file_ == kNoFile) return kOk;
  const Result rc = Os().CloseFile(file_);
  file_ = kNoFile;
  return rc;
}

}  // namespace lw::platform
