// A shipped, read-only resource property list ("PrivateData", "FileType") with a per-user writable
// overlay of the same name in the settings folder. Reading gives the resource's dictionary with
// the overlay's keys laid over it; writing stores into the overlay only the keys whose values
// differ from the resource, atomically. The resource file itself is never written.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/PropertyList.h"

namespace brelvox::foundation {

// Keys of "PrivateData" that the operations layer reads or writes.
namespace private_data {
inline constexpr const char* kProductName = "PRODUCTNAME";
inline constexpr const char* kInstallVersion = "INSTALL_VERSION";
inline constexpr const char* kUpdateTime = "upDataTimeStr";
inline constexpr const char* kIsBootable = "isBootable";
inline constexpr const char* kBrandingFlag = "Orvak";
inline constexpr const char* kSavePath = "SavePath";
inline constexpr const char* kIsFirstTime = "IsFristTime";
inline constexpr const char* kSearchHistory = "SearchHistory";
inline constexpr const char* kVersionCheck = "VersionCheck";
}  // namespace private_data

class ResourcePropertyList {
public:
    // resourceFolder/<name>.plist is the shipped list; settingsFolder/<name>.plist the overlay.
    ResourcePropertyList(std::string name, std::string resourceFolder, std::string settingsFolder);

    // The process-wide lists, over ResourceDirectory() and UserConfigDirectory().
    static ResourcePropertyList& PrivateData();
    static ResourcePropertyList& FileType();

    // The merged dictionary; nothing when the shipped resource is missing or unreadable.
    std::optional<PropertyList> Read() const;
    // Stores a whole dictionary as read and changed by the caller. Keys that the resource has but
    // the dictionary lacks cannot be removed and keep the resource's value. False when the
    // resource is missing (nothing is written) or the overlay cannot be written.
    bool Write(const PropertyList& merged, std::string* error = nullptr);

    std::optional<std::string> GetString(const std::string& key) const;
    // Reads, sets one key and writes back under one lock.
    bool SetString(const std::string& key, const std::string& value);
    bool SetValue(const std::string& key, const PropertyList& value);

    std::string ResourcePath() const;
    std::string OverlayPath() const;

private:
    std::optional<PropertyList> ReadLocked() const;
    bool WriteLocked(const PropertyList& merged, std::string* error);

    std::string m_name;
    std::string m_resourceFolder;
    std::string m_settingsFolder;
    mutable std::mutex m_mutex;
};

}  // namespace brelvox::foundation
