// A slow disk made of an image: a read-only loop device whose reads a cgroup limits to a rate (io.max
// under cgroup v2, blkio.throttle.read_bps_device under v1). Programs run inside the cgroup; the loop
// device's own page cache is dropped before each run, so every run reads the device. Needs root.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace slowdevice {

// The first line a command prints, without its line end.
inline std::string FirstLineOf(const std::string& command) {
    std::string line;
    if (FILE* out = ::popen(command.c_str(), "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof buffer, out)) line = buffer;
        ::pclose(out);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

inline bool WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

// A read-only loop device over an image, detached when the object goes; empty when none could be made.
class Loop {
public:
    explicit Loop(const std::string& image) {
        if (geteuid() == 0) m_device = FirstLineOf("losetup -f --show -r '" + image + "' 2>/dev/null");
    }
    ~Loop() {
        if (!m_device.empty()) std::system(("losetup -d '" + m_device + "' 2>/dev/null").c_str());
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;
    const std::string& Device() const { return m_device; }
    std::string Name() const { return std::filesystem::path(m_device).filename().string(); }
    // "MAJ:MIN" of the device.
    std::string Number() const { return FirstLineOf("cat /sys/block/" + Name() + "/dev"); }
    // Bytes read from the device since it was made (its statistics count 512-byte sectors).
    unsigned long long BytesRead() const {
        std::ifstream stat("/sys/block/" + Name() + "/stat");
        unsigned long long ios = 0, merges = 0, sectors = 0;
        stat >> ios >> merges >> sectors;
        return sectors * 512;
    }
    // Drops the device's cached pages: the next run reads the device.
    void DropCache() const {
        const int fd = ::open(m_device.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        ::ioctl(fd, BLKFLSBUF, 0);
        ::close(fd);
    }

private:
    std::string m_device;
};

// A cgroup of this process's making with a read limit on devices; removed when the object goes.
class ReadLimit {
public:
    ReadLimit() {
        const std::string name = "brelvox-bench-" + std::to_string(getpid());
        std::error_code ec;
        for (const char* root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
            const std::filesystem::path controllers = std::filesystem::path(root) / "cgroup.controllers";
            std::ifstream in(controllers);
            std::string all;
            std::getline(in, all);
            if ((" " + all + " ").find(" io ") == std::string::npos) continue;
            WriteText(std::filesystem::path(root) / "cgroup.subtree_control", "+io");
            m_folder = std::filesystem::path(root) / name;
            m_v2 = true;
            break;
        }
        if (m_folder.empty() && std::filesystem::exists("/sys/fs/cgroup/blkio/blkio.throttle.read_bps_device", ec))
            m_folder = std::filesystem::path("/sys/fs/cgroup/blkio") / name;
        if (!m_folder.empty() && !std::filesystem::create_directory(m_folder, ec)) m_folder.clear();
    }
    ~ReadLimit() {
        if (m_folder.empty()) return;
        std::error_code ec;
        std::filesystem::remove(m_folder, ec);  // rmdir: its processes have ended
    }
    ReadLimit(const ReadLimit&) = delete;
    ReadLimit& operator=(const ReadLimit&) = delete;
    bool Usable() const { return !m_folder.empty(); }
    const char* Kind() const { return m_v2 ? "cgroup v2 io.max" : "cgroup v1 blkio.throttle"; }
    // Limits reads of the device ("MAJ:MIN") to bytesPerSecond.
    bool Limit(const std::string& number, unsigned long long bytesPerSecond) const {
        if (m_v2) return WriteText(m_folder / "io.max", number + " rbps=" + std::to_string(bytesPerSecond));
        return WriteText(m_folder / "blkio.throttle.read_bps_device", number + " " + std::to_string(bytesPerSecond));
    }
    // The command run inside the cgroup (through a shell that moves itself there first).
    std::vector<std::string> Inside(const std::vector<std::string>& command) const {
        std::vector<std::string> wrapped{"sh", "-c", "echo $$ > '" + (m_folder / "cgroup.procs").string() + "' && exec \"$@\"",
                                         "sh"};
        wrapped.insert(wrapped.end(), command.begin(), command.end());
        return wrapped;
    }

private:
    std::filesystem::path m_folder;
    bool m_v2 = false;
};

}  // namespace slowdevice
