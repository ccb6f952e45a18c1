// brelvox-scan: a command-line front to the engine for end-to-end tests and benchmarks. It makes the
// calls the operations layer makes (device, volume recognition, recovery controller, tree receiver,
// data recovery) and adds nothing of its own.
//
//   brelvox-scan [--quick | --deep] [--types BITS] [--list FILE] [--recover DIR] SOURCE
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ScanSession.h"

namespace {

void Usage() {
    std::fprintf(stderr, "usage: brelvox-scan [--quick | --deep] [--types BITS] [--list FILE] [--recover DIR] SOURCE\n");
}

int Fail(const std::string& reason) {
    std::fprintf(stderr, "brelvox-scan: %s\n", reason.c_str());
    return 1;
}

bool ParseBits(const char* text, u32& bits) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno || !end || *end || end == text || value == 0 || value > 127) return false;
    bits = u32(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    scan::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--deep") {
            options.quick = false;
        } else if (arg == "--types" && hasValue) {
            if (!ParseBits(argv[++i], options.types)) return Fail(std::string("bad --types value: ") + argv[i]);
        } else if (arg == "--list" && hasValue) {
            options.listPath = argv[++i];
        } else if (arg == "--recover" && hasValue) {
            options.recoverDir = argv[++i];
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            Usage();
            return 2;
        } else if (options.source.empty()) {
            options.source = arg;
        } else {
            Usage();
            return 2;
        }
    }
    if (options.source.empty()) {
        Usage();
        return 2;
    }
    options.showProgress = isatty(STDERR_FILENO);
    std::signal(SIGINT, scan::RequestStop);

    scan::ScanSession session(options);
    std::string reason;
    if (!session.Run(reason)) return Fail(reason);
    if (!options.listPath.empty() && !session.WriteList(reason)) return Fail(reason);
    if (!options.recoverDir.empty()) {
        int copied = 0, failed = 0;
        if (!session.Recover(copied, failed, reason)) return Fail(reason);
        std::printf("copied %d, failed %d\n", copied, failed);
        if (failed) return Fail(std::to_string(failed) + " file(s) could not be copied");
    }
    return 0;
}
