// Recording stand-ins for the kit's platform services: each installs itself as the current service
// for its lifetime (the real one is current again after it), records what the windows asked of it, and answers as
// the test scripts it. Nothing reaches the desktop, a process or the network.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/kit/Fetcher.h"
#include "ui/kit/KeepAwake.h"
#include "ui/kit/ProcessLauncher.h"
#include "ui/kit/UrlOpener.h"

namespace uitest {

class RecordingUrlOpener : public kit::UrlOpener {
public:
    RecordingUrlOpener();
    ~RecordingUrlOpener() override;
    RecordingUrlOpener(const RecordingUrlOpener&) = delete;
    RecordingUrlOpener& operator=(const RecordingUrlOpener&) = delete;

    bool open(const std::string& target) override;

    // What open() answers (true).
    bool answer = true;
    // Every target asked for, in order.
    std::vector<std::string> opened;
};

// A keep-awake hold that is taken when available is true (false: as headless).
class RecordingKeepAwake : public kit::KeepAwake {
public:
    RecordingKeepAwake();
    ~RecordingKeepAwake() override;
    RecordingKeepAwake(const RecordingKeepAwake&) = delete;
    RecordingKeepAwake& operator=(const RecordingKeepAwake&) = delete;

    bool take(const std::string& reason) override;
    void release() override;
    bool isHeld() const override { return m_held; }

    bool available = false;
    // "take:<reason>" and "release", in order (a release of nothing held is not recorded).
    std::vector<std::string> calls;

private:
    bool m_held = false;
};

class RecordingLauncher : public kit::ProcessLauncher {
public:
    RecordingLauncher();
    ~RecordingLauncher() override;
    RecordingLauncher(const RecordingLauncher&) = delete;
    RecordingLauncher& operator=(const RecordingLauncher&) = delete;

    bool launch(const std::string& program, const std::vector<std::string>& arguments) override;

    struct Launch {
        std::string program;
        std::vector<std::string> arguments;
    };
    bool answer = true;
    std::vector<Launch> launched;
};

// Requests wait until the test answers them (or never); the time-out and the once-only completion
// on the main thread are the kit fetcher's own.
class RecordingFetcher : public kit::Fetcher {
public:
    RecordingFetcher();
    ~RecordingFetcher() override;

    struct Request {
        std::string url;
        Deliver deliver;
        bool cancelled = false;
    };
    // Every request started, in order.
    const std::vector<Request>& requests() const { return m_requests; }
    // Answers request index (from any thread); its completion runs when the main thread turns.
    void answer(size_t index, kit::FetchResult result);
    // Answers with a finished fetch of body.
    void answerBody(size_t index, const std::string& body);

protected:
    Cancel start(const std::string& url, Deliver deliver) override;

private:
    std::vector<Request> m_requests;
};

}  // namespace uitest
