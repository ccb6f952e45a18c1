// Gives the code under test its own work folder (the folder of the process log) for a scope.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace testsupport {

// Points BRELVOX_WORK_DIR (and XDG_STATE_HOME, the log's fallback) into a fresh temporary folder
// and makes the process log resolve its folders again; restores both on destruction.
class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    // The work folder: <temp>/work.
    std::filesystem::path work() const { return m_temp / "work"; }
    // The per-user state folder the log falls back to: <temp>/state.
    std::filesystem::path state() const { return m_temp / "state"; }
    // Uses another work folder from now on (e.g. one that cannot be written).
    void SetWork(const std::filesystem::path& folder);

private:
    TempDir m_temp;
    std::optional<std::string> m_oldWork;
    std::optional<std::string> m_oldState;
};

}  // namespace testsupport
