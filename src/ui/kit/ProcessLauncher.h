// Starting another program (the launcher that starts brelvox with a language) detached from this
// one: it keeps running when this process ends. Tests install a recording launcher.
#pragma once

#include <string>
#include <vector>

namespace kit {

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // The installed launcher (the system's unless a test installed another).
    static ProcessLauncher& current();
    // Installs launcher (not owned); null restores the system's.
    static void setCurrent(ProcessLauncher* launcher);

    // Starts program, an absolute path, with arguments, each passed as it is (no shell reads them);
    // true when it started.
    virtual bool launch(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// QProcess::startDetached; a program given without an absolute path is refused (never looked for
// in PATH).
class DetachedProcessLauncher : public ProcessLauncher {
public:
    bool launch(const std::string& program, const std::vector<std::string>& arguments) override;
};

}  // namespace kit
