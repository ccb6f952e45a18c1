// Watches of descriptors on the main loop: a handler runs on the main thread whenever its descriptor
// is readable (a device-event socket, for instance). The application implements it with its event
// loop; tests use PolledDescriptorWatcher and pump it themselves.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace brelvox::foundation {

class IDescriptorWatcher {
public:
    using Handler = std::function<void()>;
    virtual ~IDescriptorWatcher() = default;
    // Calls handler on the main thread each time fd is readable, until Unwatch. The handler must read
    // what waits, or it is called again. Answers a token for Unwatch, 0 when fd cannot be watched.
    // Called on the main thread.
    virtual std::uint64_t Watch(int fd, Handler handler) = 0;
    // Stops the watch; the handler is not called again, even when this runs inside it. The descriptor
    // stays open: it belongs to the caller. Unknown tokens are ignored.
    virtual void Unwatch(std::uint64_t token) = 0;
};

// A watcher whose handlers run when the owner calls Pump().
class PolledDescriptorWatcher : public IDescriptorWatcher {
public:
    std::uint64_t Watch(int fd, Handler handler) override;
    void Unwatch(std::uint64_t token) override;
    // Waits at most timeout for a watched descriptor to become readable, then runs the handler of each
    // readable one once, in the order they were watched; answers how many ran.
    size_t Pump(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    size_t WatchCount() const { return m_watches.size(); }

private:
    struct Watch_ {
        int fd;
        std::shared_ptr<Handler> handler;
    };
    std::map<std::uint64_t, Watch_> m_watches;
    std::uint64_t m_next = 1;
};

}  // namespace brelvox::foundation
