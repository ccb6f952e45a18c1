#include "ui/kit/DescriptorWatcher.h"

namespace kit {

QtDescriptorWatcher::~QtDescriptorWatcher() {
    for (auto& [token, notifier] : m_watches) notifier->setEnabled(false);
}

std::uint64_t QtDescriptorWatcher::Watch(int fd, Handler handler) {
    if (fd < 0 || !handler) return 0;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    if (!notifier->isValid()) return 0;
    const std::uint64_t token = m_next++;
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [handler = std::move(handler)] { handler(); });
    m_watches.emplace(token, std::move(notifier));
    return token;
}

void QtDescriptorWatcher::Unwatch(std::uint64_t token) {
    auto it = m_watches.find(token);
    if (it == m_watches.end()) return;
    // The handler may be running (it may be the caller): delete the notifier once it has returned.
    QSocketNotifier* notifier = it->second.release();
    m_watches.erase(it);
    notifier->setEnabled(false);
    notifier->deleteLater();
}

}  // namespace kit
