// Recording stand-ins for the kit's platform services: each installs itself as the current service
// for its lifetime (restoring the one before), records what the windows asked of it, and answers as
// the test scripts it. Nothing reaches the desktop, a process or the network.
#pragma once

#include <string>
#include <vector>

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

private:
    kit::UrlOpener* m_previous;
};

}  // namespace uitest
