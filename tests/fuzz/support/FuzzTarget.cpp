#include "fuzz/support/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

namespace {
CheckHandler g_handler = nullptr;
}

std::vector<Target>& Targets() {
    static std::vector<Target> targets;
    return targets;
}

void CheckFailed(const char* expression, const char* file, int line) {
    const std::string message = std::string(file) + ":" + std::to_string(line) + ": FUZZ_CHECK(" + expression + ") failed";
    if (g_handler != nullptr) {
        g_handler(message.c_str());
        return;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
}

void SetCheckHandler(CheckHandler handler) { g_handler = handler; }

}  // namespace fuzz
