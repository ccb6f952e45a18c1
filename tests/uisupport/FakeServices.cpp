#include "uisupport/FakeServices.h"

namespace uitest {

RecordingUrlOpener::RecordingUrlOpener() { kit::UrlOpener::setCurrent(this); }

RecordingUrlOpener::~RecordingUrlOpener() { kit::UrlOpener::setCurrent(nullptr); }

bool RecordingUrlOpener::open(const std::string& target) {
    opened.push_back(target);
    return answer;
}

RecordingKeepAwake::RecordingKeepAwake() { kit::KeepAwake::setCurrent(this); }

RecordingKeepAwake::~RecordingKeepAwake() { kit::KeepAwake::setCurrent(nullptr); }

bool RecordingKeepAwake::take(const std::string& reason) {
    calls.push_back("take:" + reason);
    if (available) m_held = true;
    return m_held;
}

void RecordingKeepAwake::release() {
    if (!m_held) return;
    calls.push_back("release");
    m_held = false;
}

RecordingLauncher::RecordingLauncher() { kit::ProcessLauncher::setCurrent(this); }

RecordingLauncher::~RecordingLauncher() { kit::ProcessLauncher::setCurrent(nullptr); }

bool RecordingLauncher::launch(const std::string& program, const std::vector<std::string>& arguments) {
    launched.push_back({program, arguments});
    return answer;
}

RecordingFetcher::RecordingFetcher() { kit::Fetcher::setCurrent(this); }

RecordingFetcher::~RecordingFetcher() {
    cancelAll();
    kit::Fetcher::setCurrent(nullptr);
}

kit::Fetcher::Cancel RecordingFetcher::start(const std::string& url, Deliver deliver) {
    const size_t index = m_requests.size();
    m_requests.push_back({url, std::move(deliver)});
    return [this, index] { m_requests[index].cancelled = true; };
}

void RecordingFetcher::answer(size_t index, kit::FetchResult result) {
    if (index < m_requests.size() && m_requests[index].deliver) m_requests[index].deliver(std::move(result));
}

void RecordingFetcher::answerBody(size_t index, const std::string& body) {
    kit::FetchResult result;
    result.status = kit::FetchResult::Status::Done;
    result.httpStatus = 200;
    result.body = body;
    answer(index, std::move(result));
}

}  // namespace uitest
