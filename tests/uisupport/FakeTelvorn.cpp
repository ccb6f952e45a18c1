// A stand-in for the usage-statistics plugin (libtelvorn.so), which lies outside the system: it
// records every call, in order, as a line ("InstallSpy(1,/work)", "8(3584,/product...)", "2(7,5)",
// "0"...), the first being "loaded" when the library is loaded. Tests read the lines through
// FakeTelvornCalls, or from the file named by TELVORN_FAKE_LOG (each line appended as it comes), and
// make the call at the place named by TELVORN_FAKE_THROW_AT throw.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <stdexcept>
#include <string>

#include "ui/shell/SmartSpy.h"

namespace {

// Function-local: the load's own line comes before the library's static objects are made.
std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& Calls() {
    static std::string calls;
    return calls;
}

void Record(const std::string& line) {
    std::lock_guard<std::mutex> hold(Mutex());
    Calls() += line + "\n";
    if (const char* file = std::getenv("TELVORN_FAKE_LOG")) {
        if (FILE* log = std::fopen(file, "a")) {
            std::fprintf(log, "%s\n", line.c_str());
            std::fclose(log);
        }
    }
}

void ThrowIfAsked(int place) {
    const char* at = std::getenv("TELVORN_FAKE_THROW_AT");
    if (at && std::atoi(at) == place) throw std::runtime_error("the fake statistics plugin fails here");
}

std::string Narrow(const wchar_t* text) {
    if (!text) return "null";
    std::string out;
    for (; *text; ++text) out += *text < 0x80 ? char(*text) : '?';
    return out;
}

std::string Place(int place, const std::string& arguments) {
    return std::to_string(place) + (arguments.empty() ? "" : "(" + arguments + ")");
}

class FakeSpy final : public telvorn::ISmartSpy {
public:
    void Finish() override { Call(0, ""); }
    void Unused1() override { Call(1, ""); }
    void SendTableSet(int set, int kind) override { Call(2, std::to_string(set) + "," + std::to_string(kind)); }
    void Unused3() override { Call(3, ""); }
    void Unused4() override { Call(4, ""); }
    void Unused5() override { Call(5, ""); }
    void SetTableValue(int table, int value) override { Call(6, std::to_string(table) + "," + std::to_string(value)); }
    void Unused7() override { Call(7, ""); }
    void SetString2(int table, const char* text) override { Call(8, std::to_string(table) + "," + text); }
    void SetWideString(int table, const wchar_t* text) override { Call(9, std::to_string(table) + "," + Narrow(text)); }
    void SetString1(int table, const char* text) override { Call(10, std::to_string(table) + "," + text); }
    void Unused11() override { Call(11, ""); }
    void IncreaseCounter(int table) override { Call(12, std::to_string(table)); }

private:
    static void Call(int place, const std::string& arguments) {
        Record(Place(place, arguments));
        ThrowIfAsked(place);
    }
};

FakeSpy g_spy;

__attribute__((constructor)) void Loaded() {
    Record("loaded");
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int InstallSpy(bool participate, const wchar_t* workPath) {
    Record("InstallSpy(" + std::string(participate ? "1" : "0") + "," + Narrow(workPath) + ")");
    return 0;
}

__attribute__((visibility("default"))) telvorn::ISmartSpy* GetSmartSpy() {
    Record("GetSmartSpy");
    return &g_spy;
}

// The lines recorded so far, each ended by a line break.
__attribute__((visibility("default"))) const char* FakeTelvornCalls() {
    static thread_local std::string copy;
    std::lock_guard<std::mutex> hold(Mutex());
    copy = Calls();
    return copy.c_str();
}
}
