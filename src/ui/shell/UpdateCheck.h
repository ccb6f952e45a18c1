// The update check's rules: when a check is due (7 days after the stamp of the last one), and the
// version list fetched from the "IniURL" address, off the main thread with a time-out. No address
// is configured by default: nothing is fetched, and the check ends as unreachable.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace shell {

// The stamp of the last check, in local time.
inline constexpr const char* kUpdateStampFormat = "yyyy-MM-dd HH:mm:ss";
inline constexpr int kUpdateIntervalDays = 7;
// How long a fetch of the version list may take before the check ends as unreachable.
inline constexpr double kVersionListTimeoutSeconds = 10.0;

enum class UpdateDue {
    FirstRun,  // no stamp, an empty one or a single blank
    Due,       // 7 whole days or more since the stamp, or a stamp that does not read as one
    NotDue,    // fewer than 7 whole days, or a stamp in the future
};
UpdateDue UpdateDecision(const std::optional<std::string>& stamp, const QDateTime& now);
QString FormatUpdateStamp(const QDateTime& time);

struct VersionList {
    enum class Outcome {
        NoAddress,    // no "IniURL": nothing fetched
        Unreachable,  // no answer within the time-out, or no connection
        Read,         // an answer came (a list that does not read counts as version 0)
    };
    Outcome outcome = Outcome::NoAddress;
    // "VersionCheck" (a number or a text holding one; 0 when missing).
    std::int64_t versionCheck = 0;
    std::string version;
    // The what's-new texts of the keys "1", "2", ... in their numeric order; missing numbers and
    // other keys are skipped.
    std::vector<std::string> items;

    // Whether the list names a newer version than the local "VersionCheck" (signed 32-bit).
    bool isNewerThan(std::int64_t local) const;
};

// The list in body (an XML or binary property list); version 0 and no items when it is not one.
VersionList ParseVersionList(const std::string& body);
// The "VersionCheck" of the shipped "PrivateData" list (0 when missing).
std::int64_t LocalVersionCheck();
// Fetches the list from the "IniURL" address through the kit's fetcher; done runs once on the main
// thread (at once, inside this call, when no address is configured).
void FetchVersionList(std::function<void(const VersionList&)> done);

}  // namespace shell
