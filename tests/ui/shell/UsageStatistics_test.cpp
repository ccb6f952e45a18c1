// Usage statistics through a stand-in for the plugin (tests/uisupport/FakeTelvorn.cpp), copied into
// a folder of the test's own so that each test loads its own copy: with "Participate" NO nothing is
// loaded or called, at close either; with YES the calls arrive in order; table ids below 4096 do
// nothing; a plugin that throws still gets the calls after; no library leaves every call harmless.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "bridge/Controller/KXUIController.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeUIController.h"
#include "support/TempDir.h"
#include "ui/shell/SmartSpy.h"
#include "ui/shell/UsageStatistics.h"

namespace {

namespace defaults_key = brelvox::foundation::defaults_key;
using shell::UsageStatistics;

const std::string kEndpoint = UsageStatistics::kEndpoint;

// A work folder holding a copy of the fake plugin, and defaults saying whether the user takes part.
struct PluginFolder {
    explicit PluginFolder(std::optional<bool> participate, bool withLibrary = true) {
        if (withLibrary) std::filesystem::copy_file(BRELVOX_FAKE_TELVORN, work / telvorn::kLibraryName);
        if (participate) defaults.SetBool(defaults_key::kParticipate, *participate);
    }
    ~PluginFolder() { unsetenv("TELVORN_FAKE_THROW_AT"); }

    std::string library() const { return (work / telvorn::kLibraryName).string(); }
    // Whether this copy is loaded in the process (without loading it).
    bool loaded() const {
        void* handle = dlopen(library().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle) dlclose(handle);
        return handle != nullptr;
    }
    // The calls the loaded copy recorded, one per line.
    std::vector<std::string> calls() const {
        void* handle = dlopen(library().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle) return {};
        using Calls = const char* (*)();
        auto read = reinterpret_cast<Calls>(dlsym(handle, "FakeTelvornCalls"));
        std::vector<std::string> lines;
        std::istringstream in(read ? read() : "");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        dlclose(handle);
        return lines;
    }

    testsupport::TempDir home;
    testsupport::TempDir work;
    brelvox::foundation::UserDefaults defaults{(home / "UserDefaults.plist").string()};
};

// Every call a caller can make, each table call once with an id below 4096 and once above.
void EveryCall(UsageStatistics& statistics) {
    statistics.SpyIDInstall();
    statistics.SetUserParticipart(true);
    for (int id : {4095, 4096}) {
        statistics.SpyIDIncreateTable1(id);
        statistics.SpyIDIncreateTable2(id, 7);
        statistics.SpyIDStringTable1(id, "one");
        statistics.SpyIDStringTable2(id, "two");
        statistics.SpyIDWStringTable1(id, "wide");
    }
    statistics.SetEdiRsf();
    statistics.SpyIDSaveToServerTable();
    statistics.SpyIDEnd();
}

// Every test's results are restored from a saved result bound to an image.
class UsageStatisticsTest : public testing::Test {
protected:
    UsageStatisticsTest() { controller.SetEdiRsf(true); }
    testsupport::FakeUIController controller;
    testsupport::ScopedUIController scope{&controller};
};

TEST_F(UsageStatisticsTest, WithParticipateNoNothingIsLoadedOrCalledAtCloseEither) {
    for (std::optional<bool> participate : {std::optional<bool>(), std::optional<bool>(false)}) {
        SCOPED_TRACE(participate ? "stored NO" : "never stored (first run)");
        PluginFolder folder(participate);
        {
            UsageStatistics statistics(folder.defaults, folder.work.str());
            EveryCall(statistics);
            // The end hook that CloseApp runs: the operations layer asks the standard defaults too.
            KXUIController::SetSpyIDEndHook([&] { statistics.SpyIDEnd(); });
            brelvox::foundation::UserDefaults::Standard().SetBool(defaults_key::kParticipate, false);
            KXUIController::SpyIDEnd();
            KXUIController::SetSpyIDEndHook(nullptr);
            EXPECT_FALSE(statistics.isLoaded());
        }
        EXPECT_FALSE(folder.loaded());
    }
}

TEST_F(UsageStatisticsTest, WithParticipateYesTheCallsArriveInOrder) {
    PluginFolder folder(true);
    UsageStatistics statistics(folder.defaults, folder.work.str());
    EveryCall(statistics);
    EXPECT_TRUE(folder.loaded());
    const std::string install = "InstallSpy(1," + folder.work.str() + ")";
    EXPECT_EQ(folder.calls(), (std::vector<std::string>{
                                  "loaded", install, install, "GetSmartSpy",
                                  // 4095 does nothing; 4096 reaches each place
                                  "12(4096)", "6(4096,7)", "10(4096,one)", "8(4096,two)", "9(4096,wide)",
                                  // the first restore bound to an image
                                  "6(4175,1)",
                                  // the intermediate send, then the end
                                  "8(3584," + kEndpoint + ")", "2(2,5)", "8(3584," + kEndpoint + ")", "2(7,5)", "0"}));
}

TEST_F(UsageStatisticsTest, TheImageResultCounterGoesUpByOneForEachImageBoundRestore) {
    PluginFolder folder(true);
    UsageStatistics statistics(folder.defaults, folder.work.str());
    statistics.SetEdiRsf();
    controller.SetEdiRsf(false);
    statistics.SetEdiRsf();
    controller.SetEdiRsf(true);
    statistics.SetEdiRsf();
    EXPECT_EQ(folder.calls(), (std::vector<std::string>{"loaded", "GetSmartSpy", "6(4175,1)", "6(4175,2)"}));
}

TEST_F(UsageStatisticsTest, APluginThrowingAtPlace8StillGetsPlaces2And0) {
    PluginFolder folder(true);
    setenv("TELVORN_FAKE_THROW_AT", "8", 1);
    UsageStatistics statistics(folder.defaults, folder.work.str());
    statistics.SpyIDEnd();
    EXPECT_EQ(folder.calls(),
              (std::vector<std::string>{"loaded", "GetSmartSpy", "8(3584," + kEndpoint + ")", "2(7,5)", "0"}));
}

TEST_F(UsageStatisticsTest, WithoutTheLibraryEveryCallIsHarmless) {
    PluginFolder folder(true, false);
    UsageStatistics statistics(folder.defaults, folder.work.str());
    EveryCall(statistics);
    EXPECT_FALSE(statistics.isLoaded());
    EXPECT_EQ(statistics.libraryPath(), folder.library());
}

TEST(UsageStatistics, TheLibraryIsLookedUpInTheWorkFolder) {
    testsupport::TempDir home;
    brelvox::foundation::UserDefaults defaults((home / "UserDefaults.plist").string());
    EXPECT_EQ(UsageStatistics(defaults, "/opt/brelvox").libraryPath(), "/opt/brelvox/libtelvorn.so");
    EXPECT_EQ(UsageStatistics(defaults, "").libraryPath(), "libtelvorn.so");
}

}  // namespace
