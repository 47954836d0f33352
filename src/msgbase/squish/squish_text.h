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
// begins.  Kludge lines that would make the control info too long stay in
// the body.
std::size_t SplitControlInfo(std::string_view text, std::string& control);

// The message text a frame holds: `frame_data` is the bytes after the frame
// header (message header, `clen` bytes of control info, then the body, if
// read), which the caller checked holds at least kMsgHeaderSize + clen
// bytes.  Each kludge of the control info becomes one CR-ended line; the
// body's closing NUL, when there is one, is dropped.
std::unique_ptr<Stream> MessageText(std::string_view frame_data, std::uint32_t clen);

}  // namespace lw::squish
