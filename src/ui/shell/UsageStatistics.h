// Usage statistics through the statistics plugin (SmartSpy.h), only while the user takes part: with
// the user default "Participate" NO (its first-run value) nothing is loaded, called or sent. The
// library is opened on first need and kept; a missing library, entry point or object is skipped
// silently, and whatever the plugin throws is swallowed, each call going on with its next step.
#pragma once

#include <mutex>
#include <string>

namespace brelvox::foundation {
class UserDefaults;
}

namespace telvorn {
class ISmartSpy;
}

namespace shell {

class UsageStatistics {
public:
    // The server table, the first table id callers may name, the table of image-bound results.
    static constexpr int kServerTable = 3584;
    static constexpr int kFirstCallerTable = 4096;
    static constexpr int kImageResultTable = 4175;
    // The statistics server's path and query (the server's host is not configured: none is used).
    static constexpr const char* kEndpoint = "/product/index.php/?a=statistics&p_type=m_mac_kvt_user_operation";
    static constexpr size_t kMaxWideChars = 1024;

    // Participation is read from defaults at each call; the library is looked up in workFolder (an
    // empty one: by its bare name).
    UsageStatistics(brelvox::foundation::UserDefaults& defaults, std::string workFolder);
    // Closes the library when it was opened.
    ~UsageStatistics();
    UsageStatistics(const UsageStatistics&) = delete;
    UsageStatistics& operator=(const UsageStatistics&) = delete;

    // The program's: the standard defaults, the work folder GetAppWorkPath names.
    static UsageStatistics& shared();

    bool participates() const;
    std::string libraryPath() const;
    bool isLoaded() const;

    // InstallSpy with the participation and the work folder (null without one).
    void SpyIDInstall();
    // InstallSpy with participate (only while the user takes part, and only with a work folder).
    void SetUserParticipart(bool participate);
    // The table calls act only for an id from kFirstCallerTable on.
    void SpyIDIncreateTable1(int id);
    void SpyIDIncreateTable2(int id, int value);
    void SpyIDStringTable1(int id, const std::string& text);
    void SpyIDStringTable2(int id, const std::string& text);
    void SpyIDWStringTable1(int id, const std::string& text);
    // The endpoint, then the intermediate table set.
    void SpyIDSaveToServerTable();
    // The endpoint, the end set, then finish: the statistics' end at close.
    void SpyIDEnd();
    // When the results shown were restored from a saved result bound to an EDI image (IsEdiRsf of the
    // process's controller): the image-result counter into its table, then up by one.
    void SetEdiRsf();

private:
    // The statistics object (loading the library and asking for it while there is none); null
    // when the user does not take part or anything is missing.
    telvorn::ISmartSpy* spy();
    void loadLocked();
    // InstallSpy, telling the plugin that the user takes part.
    void installLocked();
    // Runs call on the object under a catch-all.
    template <class Call>
    void withSpy(Call call);
    std::wstring wide(const std::string& text) const;

    brelvox::foundation::UserDefaults& m_defaults;
    std::string m_workFolder;
    mutable std::mutex m_mutex;
    void* m_library = nullptr;
    telvorn::ISmartSpy* m_spy = nullptr;
    int m_imageResults = 1;
    bool m_missingReported = false;
};

}  // namespace shell
