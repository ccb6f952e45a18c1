#include "support/WorkDir.h"

#include <cstdlib>

#include "engine/Common/CatchExeception.h"

namespace testsupport {

namespace {

std::optional<std::string> GetEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

}  // namespace

ScopedWorkDir::ScopedWorkDir() : m_oldWork(GetEnv("BRELVOX_WORK_DIR")), m_oldState(GetEnv("XDG_STATE_HOME")) {
    std::filesystem::create_directories(work());
    setenv("XDG_STATE_HOME", state().c_str(), 1);
    SetWork(work());
}

void ScopedWorkDir::SetWork(const std::filesystem::path& folder) {
    setenv("BRELVOX_WORK_DIR", folder.c_str(), 1);
    CatchExeception::Instance()->ResetWorkPath();
}

ScopedWorkDir::~ScopedWorkDir() {
    RestoreEnv("BRELVOX_WORK_DIR", m_oldWork);
    RestoreEnv("XDG_STATE_HOME", m_oldState);
    CatchExeception::Instance()->ResetWorkPath();
}

}  // namespace testsupport
