#include "platform/foundation/DescriptorWatcher.h"

#include <poll.h>

#include <cerrno>
#include <vector>

namespace brelvox::foundation {

std::uint64_t PolledDescriptorWatcher::Watch(int fd, Handler handler) {
    if (fd < 0 || !handler) return 0;
    const std::uint64_t token = m_next++;
    m_watches.emplace(token, Watch_{fd, std::make_shared<Handler>(std::move(handler))});
    return token;
}

void PolledDescriptorWatcher::Unwatch(std::uint64_t token) {
    m_watches.erase(token);
}

size_t PolledDescriptorWatcher::Pump(std::chrono::milliseconds timeout) {
    if (m_watches.empty()) return 0;
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> tokens;
    for (const auto& [token, watch] : m_watches) {
        fds.push_back(pollfd{watch.fd, POLLIN, 0});
        tokens.push_back(token);
    }
    int ready = 0;
    do {
        ready = poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return 0;
    size_t ran = 0;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        // A handler may unwatch itself or others: look each one up again.
        auto it = m_watches.find(tokens[i]);
        if (it == m_watches.end()) continue;
        const std::shared_ptr<Handler> handler = it->second.handler;
        (*handler)();
        ++ran;
    }
    return ran;
}

}  // namespace brelvox::foundation
