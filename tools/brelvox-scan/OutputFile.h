// Where the driver writes a list: "-" is the real standard output; any other path a file (or a
// character device, or a pipe) that is not the scanned source, checked on the open file before
// anything in it changes.
#pragma once

#include <string>
#include <string_view>

namespace scan {

// Writes text to path; false with a one-line reason naming `what` when it cannot.
bool WriteOutput(const std::string& path, int standardOutputFd, const std::string& source, std::string_view text,
                 const std::string& what, std::string& reason);

}  // namespace scan
