#include "uisupport/FakeServices.h"

namespace uitest {

RecordingUrlOpener::RecordingUrlOpener() : m_previous(&kit::UrlOpener::current()) { kit::UrlOpener::setCurrent(this); }

RecordingUrlOpener::~RecordingUrlOpener() { kit::UrlOpener::setCurrent(m_previous); }

bool RecordingUrlOpener::open(const std::string& target) {
    opened.push_back(target);
    return answer;
}

}  // namespace uitest
