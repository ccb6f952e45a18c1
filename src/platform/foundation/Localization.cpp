#include "platform/foundation/Localization.h"

#include "platform/foundation/ConfigPaths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

namespace brelvox::foundation {

namespace {

// Only plain language tags name a table file: nothing from a setting can reach another folder.
bool IsLanguageTag(const std::string& tag) {
    if (tag.empty() || tag.size() > 32) return false;
    for (char c : tag) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

Localization::Localization(std::string tableFolder, std::string language)
    : m_folder(std::move(tableFolder)), m_language(std::move(language)) {}

Localization& Localization::Main() {
    static Localization texts = [] {
        const auto languages = UserDefaults::Standard().GetStringArray(defaults_key::kAppleLanguages);
        const std::string folder = ResourceDirectory().empty() ? std::string() : ResourceDirectory() + "/l10n";
        return Localization(folder, languages.empty() ? "en" : languages.front());
    }();
    return texts;
}

void Localization::SetLanguage(const std::string& language) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_language = language;
}

std::string Localization::Language() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_language;
}

const Localization::Table& Localization::TableFor(const std::string& language) const {
    auto found = m_tables.find(language);
    if (found != m_tables.end()) return found->second;
    Table table;
    if (!m_folder.empty() && IsLanguageTag(language)) {
        const auto list = PropertyList::Load(m_folder + "/" + language + ".plist");
        if (list && list->IsDictionary()) {
            for (const auto& key : list->Keys()) {
                if (auto text = list->GetString(key)) table.emplace(key, std::move(*text));
            }
        }
    }
    return m_tables.emplace(language, std::move(table)).first->second;
}

std::string Localization::Text(const std::string& key) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    std::string language = m_language;
    for (;;) {
        const Table& table = TableFor(language);
        if (auto it = table.find(key); it != table.end()) return it->second;
        const size_t cut = language.find_last_of("-_");
        if (cut == std::string::npos) break;
        language.resize(cut);
    }
    if (m_language != "en") {
        const Table& english = TableFor("en");
        if (auto it = english.find(key); it != english.end()) return it->second;
    }
    return key;
}

std::string Localized(const std::string& key) {
    return Localization::Main().Text(key);
}

}  // namespace brelvox::foundation
