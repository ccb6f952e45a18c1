#include "support/FakeIconProvider.h"

namespace testsupport {

IconImage FakeIconProvider::IconForFileType(const std::string& extension) {
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_requests.push_back("type:" + extension);
    }
    if (m_missing.count(extension)) return nullptr;
    return std::make_shared<FakeIcon>("type:" + extension, 32, 32);
}

IconImage FakeIconProvider::ImageNamed(const std::string& name) {
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_requests.push_back("named:" + name);
    }
    return std::make_shared<FakeIcon>("named:" + name, 16, 16);
}

IconImage FakeIconProvider::Resized(const IconImage& image, int width, int height) {
    const auto* icon = dynamic_cast<const FakeIcon*>(image.get());
    if (!icon) return nullptr;
    return std::make_shared<FakeIcon>(icon->source, width, height);
}

std::vector<std::string> FakeIconProvider::Requests() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_requests;
}

}  // namespace testsupport
