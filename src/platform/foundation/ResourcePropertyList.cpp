#include "platform/foundation/ResourcePropertyList.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/ConfigPaths.h"

namespace brelvox::foundation {

ResourcePropertyList::ResourcePropertyList(std::string name, std::string resourceFolder, std::string settingsFolder)
    : m_name(std::move(name)),
      m_resourceFolder(std::move(resourceFolder)),
      m_settingsFolder(std::move(settingsFolder)) {}

ResourcePropertyList& ResourcePropertyList::PrivateData() {
    static ResourcePropertyList list("PrivateData", ResourceDirectory(), UserConfigDirectory());
    return list;
}

ResourcePropertyList& ResourcePropertyList::FileType() {
    static ResourcePropertyList list("FileType", ResourceDirectory(), UserConfigDirectory());
    return list;
}

std::string ResourcePropertyList::ResourcePath() const {
    return m_resourceFolder + "/" + m_name + ".plist";
}

std::string ResourcePropertyList::OverlayPath() const {
    return m_settingsFolder + "/" + m_name + ".plist";
}

std::optional<PropertyList> ResourcePropertyList::Read() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return ReadLocked();
}

std::optional<PropertyList> ResourcePropertyList::ReadLocked() const {
    if (m_resourceFolder.empty()) return std::nullopt;
    auto merged = PropertyList::Load(ResourcePath());
    if (!merged || !merged->IsDictionary()) return std::nullopt;
    // A damaged or foreign overlay is ignored rather than hiding the shipped values.
    const auto overlay = PropertyList::Load(OverlayPath());
    if (overlay && overlay->IsDictionary()) {
        for (const auto& key : overlay->Keys()) merged->SetValue(key, *overlay->GetValue(key));
    }
    return merged;
}

bool ResourcePropertyList::Write(const PropertyList& merged, std::string* error) {
    std::lock_guard<std::mutex> hold(m_mutex);
    return WriteLocked(merged, error);
}

bool ResourcePropertyList::WriteLocked(const PropertyList& merged, std::string* error) {
    const auto resource = m_resourceFolder.empty() ? std::nullopt : PropertyList::Load(ResourcePath());
    if (!resource || !resource->IsDictionary()) {
        if (error) *error = "the resource list " + m_name + " is missing";
        return false;
    }
    // Only what differs goes to the overlay, so a newer shipped value of an untouched key shows.
    PropertyList overlay;
    for (const auto& key : merged.Keys()) {
        const auto value = merged.GetValue(key);
        const auto shipped = resource->GetValue(key);
        if (shipped && *shipped == *value) continue;
        overlay.SetValue(key, *value);
    }
    if (!EnsureDirectory(m_settingsFolder)) {
        if (error) *error = "cannot create " + m_settingsFolder;
        return false;
    }
    return overlay.Save(OverlayPath(), PlistFormat::Xml, error);
}

std::optional<std::string> ResourcePropertyList::GetString(const std::string& key) const {
    const auto list = Read();
    return list ? list->GetString(key) : std::nullopt;
}

bool ResourcePropertyList::SetString(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> hold(m_mutex);
    auto list = ReadLocked();
    if (!list) return false;
    list->SetString(key, value);
    return WriteLocked(*list, nullptr);
}

bool ResourcePropertyList::SetValue(const std::string& key, const PropertyList& value) {
    std::lock_guard<std::mutex> hold(m_mutex);
    auto list = ReadLocked();
    if (!list) return false;
    list->SetValue(key, value);
    return WriteLocked(*list, nullptr);
}

}  // namespace brelvox::foundation
