// The foundation's descriptor watches over Qt's event loop: one QSocketNotifier per watch, on the
// thread that makes the watcher (the GUI thread).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <map>
#include <memory>

#include "platform/foundation/DescriptorWatcher.h"

namespace kit {

class QtDescriptorWatcher : public brelvox::foundation::IDescriptorWatcher {
public:
    QtDescriptorWatcher() = default;
    ~QtDescriptorWatcher() override;
    QtDescriptorWatcher(const QtDescriptorWatcher&) = delete;
    QtDescriptorWatcher& operator=(const QtDescriptorWatcher&) = delete;

    std::uint64_t Watch(int fd, Handler handler) override;
    void Unwatch(std::uint64_t token) override;
    size_t WatchCount() const { return m_watches.size(); }

private:
    std::map<std::uint64_t, std::unique_ptr<QSocketNotifier>> m_watches;
    std::uint64_t m_next = 1;
};

}  // namespace kit
