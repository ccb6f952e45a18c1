// A block-event source fed by the test: events pushed (from any thread) wait in order and make the
// descriptor readable, as the kernel's socket does, until Receive takes them.
#pragma once

#include <mutex>
#include <vector>

#include "platform/disks/BlockEvents.h"

namespace testsupport {

class FakeBlockEventSource final : public brelvox::disks::IBlockEventSource {
public:
    FakeBlockEventSource();
    ~FakeBlockEventSource() override;
    FakeBlockEventSource(const FakeBlockEventSource&) = delete;
    FakeBlockEventSource& operator=(const FakeBlockEventSource&) = delete;

    int Descriptor() const override { return m_fd; }
    std::vector<brelvox::disks::BlockUevent> Receive() override;
    std::vector<brelvox::disks::BlockUevent> Present() override;

    // Thread-safe.
    void Push(brelvox::disks::BlockUevent event);
    void SetPresent(std::vector<brelvox::disks::BlockUevent> present);
    // How many times Receive was called.
    size_t ReceiveCalls() const;

    // Events as the kernel sends them for a device (size in bytes; none for a remove).
    static brelvox::disks::BlockUevent Disk(const std::string& action, const std::string& name,
                                            std::optional<std::uint64_t> sizeBytes, const std::string& model = {});
    static brelvox::disks::BlockUevent Partition(const std::string& action, const std::string& disk,
                                                 const std::string& name, std::optional<std::uint64_t> sizeBytes,
                                                 const std::string& model = {});

private:
    int m_fd = -1;
    mutable std::mutex m_mutex;
    std::vector<brelvox::disks::BlockUevent> m_waiting;
    std::vector<brelvox::disks::BlockUevent> m_present;
    size_t m_receiveCalls = 0;
};

}  // namespace testsupport
