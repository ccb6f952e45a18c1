#include "support/Fixtures.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>

namespace testsupport {

std::filesystem::path FixturePath(const std::string& relative) {
    return std::filesystem::path(BRELVOX_FIXTURE_DIR) / relative;
}

std::optional<std::filesystem::path> SharedFixturePath(const std::string& name) {
    std::filesystem::path p = std::filesystem::path(BRELVOX_SHARED_FIXTURE_DIR) / name;
    std::error_code ec;
    if (!std::filesystem::exists(p, ec)) return std::nullopt;
    return p;
}

static std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::filesystem::path UnpackXz(const std::filesystem::path& xzFile, const std::filesystem::path& dir) {
    std::string name = xzFile.filename().string();
    if (name.size() > 3 && name.ends_with(".xz")) name.resize(name.size() - 3);
    std::filesystem::path out = dir / name;
    // xz keeps holes when writing to a file; cp --sparse makes sure of it for the pipe-less path.
    std::string cmd = "xz -dc " + ShellQuote(xzFile.string()) + " | cp --sparse=always /dev/stdin " +
                      ShellQuote(out.string());
    if (RunCommand(cmd) != 0) throw std::runtime_error("cannot unpack " + xzFile.string());
    return out;
}

std::filesystem::path UnpackXzShared(const std::filesystem::path& xzFile) {
    const std::filesystem::path dir = std::filesystem::path(BRELVOX_BINARY_DIR) / "unpacked-fixtures";
    std::filesystem::create_directories(dir);
    std::string name = xzFile.filename().string();
    if (name.size() > 3 && name.ends_with(".xz")) name.resize(name.size() - 3);
    const std::filesystem::path out = dir / name;
    const int lock = ::open((out.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        if (lock >= 0) ::close(lock);
        throw std::runtime_error("cannot lock " + out.string());
    }
    std::error_code error;
    const bool fresh = std::filesystem::exists(out, error) &&
                       std::filesystem::last_write_time(out, error) >= std::filesystem::last_write_time(xzFile, error);
    if (!fresh) {
        // Unpacked beside it and renamed: a reader never sees half a file.
        const std::filesystem::path part = dir / (name + ".part");
        std::filesystem::create_directories(part);
        try {
            std::filesystem::rename(UnpackXz(xzFile, part), out);
        } catch (...) {
            std::filesystem::remove_all(part, error);
            ::close(lock);
            throw;
        }
        std::filesystem::remove_all(part, error);
    }
    ::close(lock);
    return out;
}

std::vector<std::string> SplitFields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t at = line.find(separator); at != std::string::npos; at = line.find(separator, start)) {
        fields.push_back(line.substr(start, at - start));
        start = at + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        if (output) output->append(chunk.data(), n);
    }
    int status = pclose(pipe);
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

bool IsRoot() { return geteuid() == 0; }

}  // namespace testsupport
