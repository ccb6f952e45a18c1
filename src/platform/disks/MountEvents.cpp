#include "platform/disks/MountEvents.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace brelvox::disks {

namespace {

// Reads a whole pseudo file through an open descriptor from its start.
bool ReadAll(int fd, std::string& out) {
    out.clear();
    if (lseek(fd, 0, SEEK_SET) < 0) return false;
    char buffer[16384];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        out.append(buffer, static_cast<size_t>(got));
    }
}

class MountInfoSource final : public IMountSource {
public:
    MountInfoSource(int file, int epoll) : m_file(file), m_epoll(epoll) {}
    ~MountInfoSource() override {
        close(m_epoll);
        close(m_file);
    }
    MountInfoSource(const MountInfoSource&) = delete;
    MountInfoSource& operator=(const MountInfoSource&) = delete;

    int Descriptor() const override { return m_epoll; }

    std::vector<MountEntry> Mounts() override {
        // Collecting the pending condition re-arms it: the epoll instance is readable again only
        // after the next change.
        epoll_event event{};
        while (epoll_wait(m_epoll, &event, 1, 0) < 0 && errno == EINTR) {
        }
        std::vector<MountEntry> table;
        std::string content;
        if (!ReadAll(m_file, content)) return table;
        std::istringstream lines(content);
        std::string line;
        while (std::getline(lines, line)) {
            if (auto entry = ParseMountInfoLine(line)) table.push_back(std::move(*entry));
        }
        return table;
    }

private:
    int m_file;
    int m_epoll;
};

}  // namespace

std::unique_ptr<IMountSource> CreateMountInfoSource(std::string& error, const std::filesystem::path& path) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        error = std::string("cannot make an epoll instance: ") + std::strerror(errno);
        close(file);
        return nullptr;
    }
    epoll_event event{};
    event.events = EPOLLPRI | EPOLLERR;
    event.data.fd = file;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, file, &event) < 0) {
        error = "cannot watch " + path.string() + ": " + std::strerror(errno);
        close(epoll);
        close(file);
        return nullptr;
    }
    return std::make_unique<MountInfoSource>(file, epoll);
}

MountTableTracker::Key MountTableTracker::KeyOf(const MountEntry& entry) {
    return {entry.major, entry.minor, entry.root, entry.mountPoint};
}

void MountTableTracker::Prime(const std::vector<MountEntry>& table) { m_table = table; }

MountChanges MountTableTracker::Take(const std::vector<MountEntry>& table) {
    std::set<Key> before;
    std::set<Key> after;
    for (const MountEntry& entry : m_table) before.insert(KeyOf(entry));
    for (const MountEntry& entry : table) after.insert(KeyOf(entry));
    MountChanges changes;
    for (const MountEntry& entry : m_table) {
        if (!after.count(KeyOf(entry))) changes.unmounted.push_back(entry);
    }
    for (const MountEntry& entry : table) {
        if (!before.count(KeyOf(entry))) changes.mounted.push_back(entry);
    }
    m_table = table;
    return changes;
}

bool IsBlockDeviceMount(const MountEntry& entry) { return entry.major != 0; }

}  // namespace brelvox::disks
