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

// One step of the CRC-32 (reflected, polynomial 0xEDB88320) over `byte`;
// no initial value or final inversion is applied.
std::uint32_t Crc32Update(std::uint32_t crc, std::uint8_t byte);
// `c` with A-Z made lower case; every other byte as it is.
inline char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Whether folder `path` ("" is the current one) holds any entry; false
// when it cannot be searched.
bool DirHasEntries(std::string_view path);
// Whether a file or folder matches `name` (a wildcard pattern is taken as
// one); false for an empty name.
bool FileExists(std::string_view name);
// Deletes file `name`; true only when the platform reports it deleted.
bool DeleteFileOk(std::string_view name);
// Creates folder `path` and every missing folder above it, each made
// durable in its parent.  False when a folder could not be made, with the
// folder and the system's reason in `*cause` when `cause` is given.
bool ForceDirectories(std::string_view path, std::string* cause = nullptr);
// The folder that holds `path` (as a full path; the root for the root).
std::string ParentDir(std::string_view path);

// `s` without the blanks (spaces) at its start and end.
std::string_view TrimBlanks(std::string_view s);

// NUL-terminated text in a caller's buffer of `capacity` bytes (the NUL
// counts against it); nothing is written past the buffer and nothing read
// past a missing terminator within `capacity`.
//   StrToZ      copies `s` into `dest`, cut to fit.
//   ZToStr      the text of `z` up to its NUL or `capacity` bytes.
//   ZAppend     appends `z` to the text in `dest`, cut to fit; nothing when
//               `dest` holds no NUL within `capacity`.
//   ZLength     the length of `z`, at most `capacity`.
//   ZCompareLimited  compares at most `max_count` bytes as unsigned, up to
//               the first NUL: -1, 0 or 1.
void StrToZ(char* dest, std::size_t capacity, std::string_view s);
std::string ZToStr(const char* z, std::size_t capacity);
void ZAppend(char* dest, std::size_t capacity, const char* z);
std::size_t ZLength(const char* z, std::size_t capacity);
int ZCompareLimited(const char* a, const char* b, std::size_t max_count);

}  // namespace lw
