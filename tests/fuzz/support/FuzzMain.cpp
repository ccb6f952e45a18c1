// The libFuzzer entry of a fuzz_NAME program: exactly one harness is linked in. Its largest input
// becomes libFuzzer's -max_len unless the command line names one.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/Common/CatchExeception.h"
#include "fuzz/support/FuzzTarget.h"

namespace {

// The engine's process log goes nowhere: a log line per run of millions would fill the disk. Its
// file is a link to /dev/null in a folder of this process, removed at exit.
std::string g_logFolder;

void RemoveLogFolder() {
    ::unlink((g_logFolder + "/" + CatchExeception::kLogFileName).c_str());
    ::rmdir(g_logFolder.c_str());
}

void SilenceProcessLog() {
    char folder[] = "/tmp/brelvox-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return;
    g_logFolder = folder;
    if (::symlink("/dev/null", (g_logFolder + "/" + CatchExeception::kLogFileName).c_str()) != 0) return;
    CatchExeception::Instance()->ResetWorkPath(folder);
    std::atexit(RemoveLogFolder);
}

const fuzz::Target& OnlyTarget() {
    auto& targets = fuzz::Targets();
    if (targets.size() != 1) {
        std::fprintf(stderr, "a fuzz program links exactly one harness (found %zu)\n", targets.size());
        std::abort();
    }
    return targets.front();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    const fuzz::Target& target = OnlyTarget();
    SilenceProcessLog();
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], "-max_len=", 9) == 0) return 0;
    }
    // libFuzzer reads its flags after this call: a copy of argv with the bound added, kept for the
    // life of the program.
    static std::string bound = "-max_len=" + std::to_string(target.maxInput);
    static std::vector<char*> args;
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, bound.data());
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Target& target = OnlyTarget();
    if (size > target.maxInput) return -1;  // never added to the corpus
    target.body(data, size);
    return 0;
}
