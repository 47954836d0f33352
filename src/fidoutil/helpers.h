// MSGID serial numbers, the CRC-32 step, and small file, directory and
// NUL-terminated text helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lw {

// Eight lower-case hexadecimal digits from the clock, never the same as the
// previous call's (it waits for the clock to move on).
std::string NewMsgIdSerial();
// Eight lower-case hexadecimal digits, most significant first.
std::string Hex8(std::uint32_t value);

std::uint32_t Crc32Update(std::uint32_t crc, std::uint8_t byte);
inline char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool DirHasEntries(std::string_view path);
bool FileExists(std::string_view name);
bool DeleteFileOk(std::string_view name);
// Creates folder `path` and every missing folder above it, each made
// durable in its parent.  False when a folder could not be made.
bool ForceDirectories(std::string_view path);
// The folder that holds `path` (as a full path; the root for the root).
std::string ParentDir(std::string_view path);

// `s` without the blanks (spaces) at its start and end.
std::string_view TrimBlanks(std::string_view s);

// NUL-terminated text in a caller's buffer of `capacity` bytes (the NUL
// counts against it); nothing is written past the buffer and nothing read
// past a missing terminator within `capacity`.
void StrToZ(char* dest, std::size_t capacity, std::string_view s);
std::string ZToStr(const char* z, std::size_t capacity);
void ZAppend(char* dest, std::size_t capacity, const char* z);
std::size_t ZLength(const char* z, std::size_t capacity);
int ZCompareLimited(const char* a, const char* b, std::size_t max_count);

}  // namespace lw
