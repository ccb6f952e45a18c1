#include "support/FakeBlockEventSource.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace testsupport {

using brelvox::disks::BlockUevent;

FakeBlockEventSource::FakeBlockEventSource() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (m_fd < 0) throw std::runtime_error("eventfd failed");
}

FakeBlockEventSource::~FakeBlockEventSource() {
    close(m_fd);
}

std::vector<BlockUevent> FakeBlockEventSource::Receive() {
    std::lock_guard lock(m_mutex);
    ++m_receiveCalls;
    std::uint64_t count = 0;
    (void)!read(m_fd, &count, sizeof count);  // clears the readable state; EAGAIN when nothing waits
    std::vector<BlockUevent> events;
    events.swap(m_waiting);
    return events;
}

std::vector<BlockUevent> FakeBlockEventSource::Present() {
    std::lock_guard lock(m_mutex);
    return m_present;
}

void FakeBlockEventSource::Push(BlockUevent event) {
    std::lock_guard lock(m_mutex);
    m_waiting.push_back(std::move(event));
    const std::uint64_t one = 1;
    (void)!write(m_fd, &one, sizeof one);
}

void FakeBlockEventSource::SetPresent(std::vector<BlockUevent> present) {
    std::lock_guard lock(m_mutex);
    m_present = std::move(present);
}

size_t FakeBlockEventSource::ReceiveCalls() const {
    std::lock_guard lock(m_mutex);
    return m_receiveCalls;
}

BlockUevent FakeBlockEventSource::Disk(const std::string& action, const std::string& name,
                                       std::optional<std::uint64_t> sizeBytes, const std::string& model) {
    return BlockUevent{action, name, "disk", "/devices/platform/host0/block/" + name, sizeBytes, model};
}

BlockUevent FakeBlockEventSource::Partition(const std::string& action, const std::string& disk, const std::string& name,
                                            std::optional<std::uint64_t> sizeBytes, const std::string& model) {
    return BlockUevent{action,    name, "partition", "/devices/platform/host0/block/" + disk + "/" + name,
                       sizeBytes, model};
}

}  // namespace testsupport
