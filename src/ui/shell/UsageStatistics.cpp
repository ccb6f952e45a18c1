#include "ui/shell/UsageStatistics.h"

#include <dlfcn.h>

#include <vector>

#include "bridge/UIController/IUIController.h"
#include "bridge/Utilities/TextUtilities.h"
#include "engine/Common/CatchExeception.h"
#include "platform/foundation/UserDefaults.h"
#include "ui/shell/SmartSpy.h"

namespace shell {

namespace defaults_key = brelvox::foundation::defaults_key;

UsageStatistics::UsageStatistics(brelvox::foundation::UserDefaults& defaults, std::string workFolder)
    : m_defaults(defaults), m_workFolder(std::move(workFolder)) {}

UsageStatistics::~UsageStatistics() {
    if (m_library) dlclose(m_library);
}

UsageStatistics& UsageStatistics::shared() {
    static UsageStatistics* statistics = [] {
        const char* folder = GetAppWorkPath();
        return new UsageStatistics(brelvox::foundation::UserDefaults::Standard(), folder ? folder : "");
    }();
    return *statistics;
}

bool UsageStatistics::participates() const {
    return m_defaults.GetBool(defaults_key::kParticipate, false);
}

std::string UsageStatistics::libraryPath() const {
    return m_workFolder.empty() ? std::string(telvorn::kLibraryName) : m_workFolder + "/" + telvorn::kLibraryName;
}

bool UsageStatistics::isLoaded() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_library != nullptr;
}

void UsageStatistics::loadLocked() {
    if (m_library) return;
    const std::string path = libraryPath();
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_library && !m_missingReported) {
        // Said once: a missing plugin is the usual case, and every call would try again.
        m_missingReported = true;
        const char* error = dlerror();
        CatchExeception::Instance()->WriteLog("LoadSpyModule : %s, not loaded: %s\n", path.c_str(),
                                              error ? error : "unknown");
    }
}

telvorn::ISmartSpy* UsageStatistics::spy() {
    if (m_spy) return m_spy;
    loadLocked();
    if (!m_library) return nullptr;
    auto get = reinterpret_cast<GetSmartSpyFunction>(dlsym(m_library, telvorn::kGetSmartSpySymbol));
    if (!get) return nullptr;
    try {
        m_spy = get();
    } catch (...) {
        m_spy = nullptr;
    }
    return m_spy;
}

template <class Call>
void UsageStatistics::withSpy(Call call) {
    // Asked afresh for every call: a late load still serves the calls after it.
    telvorn::ISmartSpy* object = spy();
    if (!object) return;
    try {
        call(*object);
    } catch (...) {
        // The plugin's failure is its own: the program goes on.
    }
}

std::wstring UsageStatistics::wide(const std::string& text) const {
    std::vector<wchar_t> buffer(kMaxWideChars + 1, L'\0');
    std::string input = text;
    char* in = input.data();
    size_t inLength = input.size();
    char* out = reinterpret_cast<char*>(buffer.data());
    size_t outLength = kMaxWideChars * sizeof(wchar_t);
    // A text that does not fit or convert keeps what was converted before the fault.
    UTF82WCHAR(&in, &inLength, &out, &outLength);
    return std::wstring(buffer.data());
}

void UsageStatistics::installLocked() {
    loadLocked();
    if (!m_library) return;
    auto install = reinterpret_cast<InstallSpyFunction>(dlsym(m_library, telvorn::kInstallSpySymbol));
    if (!install) return;
    const std::wstring path = wide(m_workFolder);
    try {
        install(true, m_workFolder.empty() ? nullptr : path.c_str());
    } catch (...) {
    }
}

void UsageStatistics::SpyIDInstall() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (participates()) installLocked();
}

void UsageStatistics::SetUserParticipart(bool participate) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (participate && participates() && !m_workFolder.empty()) installLocked();
}

void UsageStatistics::SpyIDIncreateTable1(int id) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (id < kFirstCallerTable || !participates()) return;
    withSpy([id](telvorn::ISmartSpy& s) { s.IncreaseCounter(id); });
}

void UsageStatistics::SpyIDIncreateTable2(int id, int value) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (id < kFirstCallerTable || !participates()) return;
    withSpy([id, value](telvorn::ISmartSpy& s) { s.SetTableValue(id, value); });
}

void UsageStatistics::SpyIDStringTable1(int id, const std::string& text) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (id < kFirstCallerTable || !participates()) return;
    withSpy([id, &text](telvorn::ISmartSpy& s) { s.SetString1(id, text.c_str()); });
}

void UsageStatistics::SpyIDStringTable2(int id, const std::string& text) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (id < kFirstCallerTable || !participates()) return;
    withSpy([id, &text](telvorn::ISmartSpy& s) { s.SetString2(id, text.c_str()); });
}

void UsageStatistics::SpyIDWStringTable1(int id, const std::string& text) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (id < kFirstCallerTable || !participates()) return;
    const std::wstring converted = wide(text);
    withSpy([id, &converted](telvorn::ISmartSpy& s) { s.SetWideString(id, converted.c_str()); });
}

void UsageStatistics::SpyIDSaveToServerTable() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!participates()) return;
    withSpy([](telvorn::ISmartSpy& s) { s.SetString2(kServerTable, kEndpoint); });
    withSpy([](telvorn::ISmartSpy& s) { s.SendTableSet(2, 5); });
}

void UsageStatistics::SpyIDEnd() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!participates()) return;
    withSpy([](telvorn::ISmartSpy& s) { s.SetString2(kServerTable, kEndpoint); });
    withSpy([](telvorn::ISmartSpy& s) { s.SendTableSet(7, 5); });
    withSpy([](telvorn::ISmartSpy& s) { s.Finish(); });
}

void UsageStatistics::SetEdiRsf() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!participates()) return;
    IUIController* controller = GetUIController();
    if (!controller || !controller->IsEdiRsf()) return;
    const int count = m_imageResults;
    withSpy([count](telvorn::ISmartSpy& s) { s.SetTableValue(kImageResultTable, count); });
    ++m_imageResults;
}

}  // namespace shell
