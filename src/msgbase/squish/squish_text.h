// How message text maps onto a Squish frame: the leading kludge lines go
// into the control info (run together, NUL at the end), the rest is the
// body.  Reading turns the control info back into CR-ended kludge lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "stream/stream.h"

namespace lw::squish {

// Appends to `control` the leading kludge lines of `text` (without their
// line ends) and a closing NUL; returns the offset at which the body
// begins.  The control info ends at the first kludge line that would not
// come back from it byte for byte (one ended otherwise than by a lone CR,
// or holding a second ^A) or would make it too long: that line and the
// rest stay in the body.
std::size_t SplitControlInfo(std::string_view text, std::string& control);

// The message text a frame holds: `frame_data` is the bytes after the frame
// header (message header, `clen` bytes of control info, then the body, if
// read), which the caller checked holds at least kMsgHeaderSize + clen
// bytes.  Each kludge of the control info becomes one CR-ended line (the
// NULs that close it make none); the body's closing NUL, when there is
// one, is dropped.  So a text SplitControlInfo split comes back whole.
std::unique_ptr<Stream> MessageText(std::string_view frame_data, std::uint32_t clen);

}  // namespace lw::squish
