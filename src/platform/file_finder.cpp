#include "platform/file_finder.h"

namespace lw {

std::unique_ptr<FileFinder> NewFileFinder() { return std::make_unique<FileFinder>(); }

FileFinder::~FileFinder() { FindClose(); }

bool FileFinder::FindFirst(std::string_view mask, std::uint32_t attr) {
  FindClose();
  platform::DirEntry entry;
  const platform::Result rc = platform::Os().FindFirst(mask, attr, &search_, &entry);
  failure_ = rc == platform::kFileNotFound ? platform::Result() : rc;
  if (rc != platform::kOk) return false;
  Name = entry.name;
  Attr = entry.attr;
  return true;
}

bool FileFinder::FindNext() {
  if (search_ == 0) return false;
  platform::DirEntry entry;
  const platform::Result rc = platform::Os().FindNext(search_, &entry);
  failure_ = rc == platform::kFileNotFound ? platform::Result() : rc;
  if (rc != platform::kOk) return false;
  Name = entry.name;
  Attr = entry.attr;
  return true;
}

void FileFinder::FindClose() {
  if (search_ != 0) platform::Os().FindClose(search_);
  search_ = 0;
}

}  // namespace lw
