// Where the driver writes a list: "-" is the real standard output; any other path a file (or a
// character device, or a pipe) that is not the scanned source, checked on the open file before
// anything in it changes.
#pragma once

#include <string>
#include <string_view>

namespace scan {

// A list written in pieces: opened (and checked) once, then written piece after piece.
class OutputWriter {
public:
    OutputWriter() = default;
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;
    ~OutputWriter();

    // Opens path (emptied when it is a regular file); false with a one-line reason naming `what` when
    // it cannot be written.
    bool Open(const std::string& path, int standardOutputFd, const std::string& source, const std::string& what,
              std::string& reason);
    bool Write(std::string_view text, std::string& reason);
    // Closes the file; false when it or an earlier write failed.
    bool Close(std::string& reason);

private:
    std::string m_path;
    std::string m_what;
    int m_fd = -1;
    bool m_standardOutput = false;
};

// Writes text to path; false with a one-line reason naming `what` when it cannot.
bool WriteOutput(const std::string& path, int standardOutputFd, const std::string& source, std::string_view text,
                 const std::string& what, std::string& reason);

}  // namespace scan
