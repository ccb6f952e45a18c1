// Interface texts by key. Tables are XML property lists (one dictionary of key -> text) named
// <language>.plist in the resources' "l10n" folder. A key is looked up in the interface language
// ("de-AT" tries "de-AT", then "de"), then in English, and is its own text when no table has it.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace brelvox::foundation {

class Localization {
public:
    explicit Localization(std::string tableFolder, std::string language = "en");

    // The process-wide texts: <ResourceDirectory()>/l10n, in the language of the first
    // "AppleLanguages" entry of the standard user defaults (English when there is none).
    static Localization& Main();

    void SetLanguage(const std::string& language);
    std::string Language() const;
    std::string Text(const std::string& key) const;

private:
    using Table = std::map<std::string, std::string>;
    const Table& TableFor(const std::string& language) const;  // caller holds m_mutex

    std::string m_folder;
    std::string m_language;
    mutable std::mutex m_mutex;
    mutable std::map<std::string, Table> m_tables;
};

// The text of key in the main localisation.
std::string Localized(const std::string& key);

}  // namespace brelvox::foundation
