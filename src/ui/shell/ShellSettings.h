// Where the shell reads and keeps its settings: the user defaults ("AppleLanguages", "rsfPath",
// "Participate") and the "PrivateData" list (links, "VersionCheck", the product's name and version).
// The application uses the process-wide stores; tests install their own for a scope.
#pragma once

namespace brelvox::foundation {
class ResourcePropertyList;
class UserDefaults;
}  // namespace brelvox::foundation

namespace shell {

struct Settings {
    brelvox::foundation::UserDefaults* defaults = nullptr;
    brelvox::foundation::ResourcePropertyList* privateData = nullptr;

    // The installed stores (the process-wide ones unless a test installed others).
    static brelvox::foundation::UserDefaults& Defaults();
    static brelvox::foundation::ResourcePropertyList& PrivateData();
};

// Installs settings for its lifetime (a null member keeps the process-wide store); the ones before
// are back after it.
class ScopedSettings {
public:
    explicit ScopedSettings(Settings settings);
    ~ScopedSettings();
    ScopedSettings(const ScopedSettings&) = delete;
    ScopedSettings& operator=(const ScopedSettings&) = delete;

private:
    Settings m_previous;
};

}  // namespace shell
