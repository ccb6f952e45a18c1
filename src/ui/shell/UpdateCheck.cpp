#include "ui/shell/UpdateCheck.h"

#include <algorithm>
#include <map>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/ResourcePropertyList.h"
#include "ui/kit/Fetcher.h"
#include "ui/shell/KXLinkUrl.h"
#include "ui/shell/ShellSettings.h"

namespace shell {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// A key made only of decimal digits, not starting with 0, small enough for an int.
std::optional<int> ItemNumber(const std::string& key) {
    if (key.empty() || key.size() > 9 || key[0] == '0') return std::nullopt;
    int number = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

}  // namespace

UpdateDue UpdateDecision(const std::optional<std::string>& stamp, const QDateTime& now) {
    if (!stamp || stamp->empty() || *stamp == " ") return UpdateDue::FirstRun;
    const QDateTime last =
        QDateTime::fromString(QString::fromStdString(*stamp), QString::fromLatin1(kUpdateStampFormat));
    // A stamp that does not read would otherwise hold the check back for ever.
    if (!last.isValid()) return UpdateDue::Due;
    const std::int64_t days = last.secsTo(now) / kSecondsPerDay;  // truncated toward zero
    return days >= kUpdateIntervalDays ? UpdateDue::Due : UpdateDue::NotDue;
}

QString FormatUpdateStamp(const QDateTime& time) {
    return time.toString(QString::fromLatin1(kUpdateStampFormat));
}

bool VersionList::isNewerThan(std::int64_t local) const {
    return static_cast<std::int32_t>(versionCheck) > static_cast<std::int32_t>(local);
}

VersionList ParseVersionList(const std::string& body) {
    VersionList list;
    list.outcome = VersionList::Outcome::Read;
    const auto parsed = brelvox::foundation::PropertyList::Parse(body);
    if (!parsed || !parsed->IsDictionary()) return list;
    list.versionCheck = parsed->GetInteger("VersionCheck").value_or(0);
    list.version = parsed->GetString("Version").value_or("");
    std::map<int, std::string> items;
    for (const std::string& key : parsed->Keys()) {
        const auto number = ItemNumber(key);
        if (!number) continue;
        if (auto text = parsed->GetString(key)) items.emplace(*number, std::move(*text));
    }
    for (auto& [number, text] : items) list.items.push_back(std::move(text));
    return list;
}

std::int64_t LocalVersionCheck() {
    const auto data = Settings::PrivateData().Read();
    if (!data) return 0;
    return data->GetInteger(brelvox::foundation::private_data::kVersionCheck).value_or(0);
}

void FetchVersionList(std::function<void(const VersionList&)> done) {
    const auto address = KXLinkUrl::GetUrl("IniURL");
    if (!address) {
        done(VersionList{});
        return;
    }
    kit::Fetcher::current().fetch(
        *address, kVersionListTimeoutSeconds, [done = std::move(done)](const kit::FetchResult& result) {
            // Reached but refused (an HTTP error): read as a list without a version.
            const bool reached = result.status == kit::FetchResult::Status::Done ||
                                 (result.status == kit::FetchResult::Status::Failed && result.httpStatus != 0);
            if (!reached) {
                VersionList list;
                list.outcome = VersionList::Outcome::Unreachable;
                done(list);
                return;
            }
            done(ParseVersionList(result.status == kit::FetchResult::Status::Done ? result.body : std::string()));
        });
}

}  // namespace shell
