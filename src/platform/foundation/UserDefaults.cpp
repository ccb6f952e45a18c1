#include "platform/foundation/UserDefaults.h"

#include <filesystem>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/ConfigPaths.h"

namespace brelvox::foundation {

UserDefaults::UserDefaults(std::string file) : m_file(std::move(file)) {
    Reload();
}

UserDefaults& UserDefaults::Standard() {
    static UserDefaults defaults(UserConfigDirectory() + "/UserDefaults.plist");
    return defaults;
}

void UserDefaults::Reload() {
    auto loaded = PropertyList::Load(m_file);
    std::lock_guard<std::mutex> hold(m_mutex);
    m_values = (loaded && loaded->IsDictionary()) ? std::move(*loaded) : PropertyList();
}

bool UserDefaults::SaveLocked() {
    const std::filesystem::path path(m_file);
    if (path.has_parent_path() && !EnsureDirectory(path.parent_path().string())) return false;
    return m_values.Save(m_file, PlistFormat::Xml);
}

bool UserDefaults::Has(const std::string& key) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_values.Has(key);
}

std::optional<std::string> UserDefaults::GetString(const std::string& key) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_values.GetString(key);
}

bool UserDefaults::GetBool(const std::string& key, bool fallback) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (const auto value = m_values.GetBool(key)) return *value;
    if (const auto number = m_values.GetInteger(key)) return *number != 0;
    if (const auto text = m_values.GetString(key)) {
        if (*text == "YES" || *text == "yes" || *text == "true") return true;
        if (*text == "NO" || *text == "no" || *text == "false") return false;
    }
    return fallback;
}

std::optional<int64_t> UserDefaults::GetInteger(const std::string& key) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_values.GetInteger(key);
}

std::vector<std::string> UserDefaults::GetStringArray(const std::string& key) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_values.GetStringArray(key).value_or(std::vector<std::string>{});
}

bool UserDefaults::SetString(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_values.SetString(key, value);
    return SaveLocked();
}

bool UserDefaults::SetBool(const std::string& key, bool value) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_values.SetBool(key, value);
    return SaveLocked();
}

bool UserDefaults::SetInteger(const std::string& key, int64_t value) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_values.SetInteger(key, value);
    return SaveLocked();
}

bool UserDefaults::SetStringArray(const std::string& key, const std::vector<std::string>& values) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_values.SetStringArray(key, values);
    return SaveLocked();
}

bool UserDefaults::Remove(const std::string& key) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_values.Remove(key);
    return SaveLocked();
}

}  // namespace brelvox::foundation
