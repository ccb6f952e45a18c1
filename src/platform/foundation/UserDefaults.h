// The user's defaults: one XML property list in the settings folder, read once and written back
// atomically on every change. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/PropertyList.h"

namespace brelvox::foundation {

// Keys in use. ("SavePath" lives in the "PrivateData" overlay: see ResourcePropertyList.)
namespace defaults_key {
inline constexpr const char* kAppleLanguages = "AppleLanguages";            // interface languages, first wins
inline constexpr const char* kRsfPath = "rsfPath";                          // saved scan result to load
inline constexpr const char* kParticipate = "Participate";                  // usage statistics (NO at first run)
inline constexpr const char* kShowExisting = "ShowExisting";                // announce disks present at start
inline constexpr const char* kIsSelectDesktopDisk = "isSelectDesktopDisk";  // name search: Desktop files
}  // namespace defaults_key

class UserDefaults {
public:
    // Defaults kept in file (created on the first change).
    explicit UserDefaults(std::string file);

    // The process-wide defaults: <settings folder>/UserDefaults.plist.
    static UserDefaults& Standard();

    bool Has(const std::string& key) const;
    std::optional<std::string> GetString(const std::string& key) const;
    // A boolean, or a text "YES"/"NO"/"1"/"0"; fallback when absent or of another kind.
    bool GetBool(const std::string& key, bool fallback = false) const;
    std::optional<int64_t> GetInteger(const std::string& key) const;
    std::vector<std::string> GetStringArray(const std::string& key) const;

    // Each change is written at once; false when it could not be stored (the value stays set in
    // memory for this run).
    bool SetString(const std::string& key, const std::string& value);
    bool SetBool(const std::string& key, bool value);
    bool SetInteger(const std::string& key, int64_t value);
    bool SetStringArray(const std::string& key, const std::vector<std::string>& values);
    bool Remove(const std::string& key);

    // Reads the file again, dropping what is in memory.
    void Reload();
    const std::string& File() const { return m_file; }

private:
    bool SaveLocked();

    std::string m_file;
    mutable std::mutex m_mutex;
    PropertyList m_values;
};

}  // namespace brelvox::foundation
