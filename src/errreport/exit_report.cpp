#include "errreport/exit_report.h"

#include <cstring>

#include "platform/platform.h"

namespace lw {

namespace {

struct FaultText {
  int number;
  const char* text;
};

const FaultText kTexts[] = {
    {1, "Invalid function number."},
    {2, "File not found."},
    {3, "Path not found."},
    {4, "Too many open files."},
    {5, "File access denied."},
    {6, "Invalid file handle."},
    {12, "Invalid file access code."},
    {15, "Invalid drive number."},
    {16, "Cannot remove current directory."},
    {17, "Cannot rename across drives."},
    {18, "No More Files."},
    {100, "Disk read error."},
    {101, "Disk write error."},
    {102, "File not assigned."},
    {103, "File not open."},
    {104, "File not open for input."},
    {105, "File not open for output."},
    {106, "Invalid numeric format."},
    {150, "Disk is write-protected."},
    {151, "Unknown unit."},
    {152, "Drive not ready."},
    {153, "Unknown command."},
    {154, "CRC error in data."},
    {155, "Bad drive request structure length."},
    {156, "Disk seek error."},
    {157, "Unknown media type."},
    {158, "Sector not found."},
    {159, "Printer out of paper."},
    {160, "Device write fault."},
    {161, "Device read fault."},
    {162, "Hardware failure."},
    {200, "Division by zero."},
    {201, "Range check error."},
    {202, "Stack overflow error."},
    {203, "Heap overflow error."},
    {204, "Invalid pointer operation."},
    {205, "Floating point overflow."},
    {206, "Floating point underflow."},
    {207, "Invalid floating point operation."},
    {208, "Overlay manager not installed."},
    {209, "Overlay file read error."},
    {210, "Object not initialized."},
    {211, "Call to abstract method."},
    {212, "Stream registration error."},
    {213, "Collection index out of range."},
    {214, "Collection overflow error."},
    {215, "Arithmetic overflow error."},
    {216, "General Protection fault."},
};

const char* ClassText(int number) {
  if (number >= 1 && number <= 18) return "DOS ERROR: ";
  if (number >= 100 && number <= 106) return "I/O ERROR: ";
  if ((number >= 150 && number <= 162) || (number >= 200 && number <= 216)) {
    return "CRITICAL ERROR: ";
  }
  return nullptr;
}

const char* MessageText(int number) {
  for (const FaultText& t : kTexts) {
    if (t.number == number) return t.text;
  }
  return "Unknown Error.";
}

// Appends to a fixed buffer, never past its capacity.
struct Out {
  char* buf;
  std::size_t cap;
  std::size_t len = 0;
  void Put(const char* s) {
    while (*s && len + 1 < cap) buf[len++] = *s++;
    if (cap) buf[len] = 0;
  }
  void PutNumber(unsigned long v, int min_digits, bool grouped) {
    char tmp[40];
    int n = 0;
    int digits = 0;
    do {
      if (grouped && digits > 0 && digits % 3 == 0) tmp[n++] = ',';
      tmp[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
      ++digits;
    } while (v != 0 || digits < min_digits);
    char rev[41];
    for (int i = 0; i < n; ++i) rev[i] = tmp[n - 1 - i];
    rev[n] = 0;
    Put(rev);
  }
  void PutHex8(std::uintptr_t v) {
    char hex[9];
    for (int i = 7; i >= 0; --i) {
      hex[i] = "0123456789ABCDEF"[v & 15];
      v >>= 4;
    }
    hex[8] = 0;
    Put(hex);
  }
};

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

void Report(int number, const char* module, int line, std::uintptr_t address) {
  char text[512];
  std::size_t n = FormatExitReport(number, module, line, address, text, sizeof text);
  platform::RawConsoleWrite(text, n);
}

void ReportCrash(int number, std::uintptr_t address) { Report(number, nullptr, 0, platform::ImageOffset(address)); }

}  // namespace

std::size_t FormatExitReport(int number, const char* module, int line, std::uintptr_t address, char* out,
                             std::size_t capacity) {
  Out o{out, capacity};
  o.Put("Error number ");
  o.PutNumber(static_cast<unsigned long>(number < 0 ? 0 : number), 3, false);
  if (module != nullptr) {
    o.Put(" in ");
    o.Put(BaseName(module));
    o.Put(", line ");
    o.PutNumber(static_cast<unsigned long>(line < 0 ? 0 : line), 1, true);
  } else {
    o.Put(" at ");
    o.PutHex8(address);
  }
  o.Put("\r\n");
  if (const char* cls = ClassText(number)) {
    o.Put(cls);
    o.Put(MessageText(number));
    o.Put("\r\n");
  }
  return o.len;
}

void ArmExitReport() { platform::InstallFaultHandlers(ReportCrash); }

void WriteFaultReport(int number, const char* file, int line) { Report(number, file, line, 0); }

}  // namespace lw
