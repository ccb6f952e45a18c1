// The interface of the usage-statistics plugin, a shared library outside this program
// ("libtelvorn.so", looked up in the program's work folder). It exports two C entry points, and the
// statistics object that GetSmartSpy hands out is called through its table of operations, whose
// places are fixed: the declarations below hold each place, the unused ones included.
#pragma once

#include <cwchar>

namespace telvorn {

inline constexpr const char* kLibraryName = "libtelvorn.so";
inline constexpr const char* kInstallSpySymbol = "InstallSpy";
inline constexpr const char* kGetSmartSpySymbol = "GetSmartSpy";

class ISmartSpy {
public:
    virtual void Finish() = 0;                                       // 0: the last call of a run
    virtual void Unused1() = 0;                                      // 1
    virtual void SendTableSet(int set, int kind) = 0;                // 2: (7, 5) at the end, (2, 5) on the way
    virtual void Unused3() = 0;                                      // 3
    virtual void Unused4() = 0;                                      // 4
    virtual void Unused5() = 0;                                      // 5
    virtual void SetTableValue(int table, int value) = 0;            // 6
    virtual void Unused7() = 0;                                      // 7
    virtual void SetString2(int table, const char* text) = 0;        // 8: string table 2, the endpoint
    virtual void SetWideString(int table, const wchar_t* text) = 0;  // 9
    virtual void SetString1(int table, const char* text) = 0;        // 10: string table 1
    virtual void Unused11() = 0;                                     // 11
    virtual void IncreaseCounter(int table) = 0;                     // 12

protected:
    // The plugin owns the object.
    ~ISmartSpy() = default;
};

}  // namespace telvorn

extern "C" {
// Whether the user takes part, and the work folder as 4-byte characters (at most 1024) or null.
using InstallSpyFunction = int (*)(bool participate, const wchar_t* workPath);
using GetSmartSpyFunction = telvorn::ISmartSpy* (*)();
}
