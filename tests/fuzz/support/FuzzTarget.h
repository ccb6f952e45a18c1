// The registration of the libFuzzer harnesses of tests/fuzz. A harness is one file in
// tests/fuzz/harnesses that feeds its input to one parser as the scan does:
//
//     BRELVOX_FUZZ_TARGET(64 * 1024) {   // the largest input it takes, in bytes
//         ... data, size ...
//     }
//
// Its name is the file's name without ".cpp" (the build defines BRELVOX_FUZZ_NAME); its seeds live in
// tests/fuzz/seeds/NAME and the inputs that once failed in tests/fuzz/regressions/NAME. The fuzz build
// links each harness into a program of its own (fuzz_NAME); every other build links all of them into
// the test program that replays their seeds and regressions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

using Body = void (*)(const uint8_t* data, size_t size);

struct Target {
    const char* name;
    size_t maxInput;
    Body body;
};

// Every harness linked into this program, in registration order.
std::vector<Target>& Targets();

struct Registrar {
    Registrar(const char* name, size_t maxInput, Body body) { Targets().push_back({name, maxInput, body}); }
};

// Reports a broken property of a parser's answer (FUZZ_CHECK). By default it prints the failed
// expression and aborts, which libFuzzer records as a finding; the replaying test installs a handler
// that fails the test instead.
void CheckFailed(const char* expression, const char* file, int line);
using CheckHandler = void (*)(const char* message);
void SetCheckHandler(CheckHandler handler);

}  // namespace fuzz

// BRELVOX_FUZZ_NAME is defined by the build for each harness file.
#define BRELVOX_FUZZ_TARGET(maxInput)                                                              \
    static void BrelvoxFuzzBody(const uint8_t* data, size_t size);                                 \
    static const ::fuzz::Registrar brelvoxFuzzRegistrar(BRELVOX_FUZZ_NAME, (maxInput), BrelvoxFuzzBody); \
    static void BrelvoxFuzzBody([[maybe_unused]] const uint8_t* data, [[maybe_unused]] size_t size)

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) ::fuzz::CheckFailed(#condition, __FILE__, __LINE__);         \
    } while (0)
