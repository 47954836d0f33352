// The report written when a run ends on a run-time fault: the fault number,
// where it happened, and a one-line explanation.  The fault number is the
// exit code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lw {

// Arms the report: crashes (segmentation fault 216, arithmetic fault 200,
// out of memory 203) end through it from now on.
void ArmExitReport();

// Writes the report of fault `number`, raised by the program itself at the
// given source position, to the console.  The caller ends the run with
// `number` as its exit code.
void WriteFaultReport(int number, const char* file, int line);

// Formats the report into `out` (no heap use, so that it can run inside a
// fault handler).  With a module name the position reads " in module, line
// N", otherwise " at " and eight hexadecimal digits of `address`.  Returns
// the length written.
std::size_t FormatExitReport(int number, const char* module, int line, std::uintptr_t address, char* out,
                             std::size_t capacity);

}  // namespace lw
