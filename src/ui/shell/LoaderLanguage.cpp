#include "ui/shell/LoaderLanguage.h"

#include <cstdlib>

namespace shell {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

LocaleEnvironment LocaleEnvironment::FromProcess() {
    return {Variable("LANGUAGE"), Variable("LC_ALL"), Variable("LC_MESSAGES"), Variable("LANG")};
}

bool IsLanguageTag(const std::string& text) {
    if (text.empty() || text.size() > 32) return false;
    for (char c : text) {
        if (!IsLetterOrDigit(c) && c != '-' && c != '_') return false;
    }
    return true;
}

std::string LanguageOfLocale(const std::string& locale) {
    for (char c : locale) {
        if (!IsLetterOrDigit(c) && c != '_' && c != '-' && c != '.' && c != '@') return {};
    }
    // "language_TERRITORY.codeset@modifier": the codeset and the modifier do not choose a table.
    const std::string name = locale.substr(0, locale.find_first_of(".@"));
    if (name.empty()) return {};
    if (name == "C" || name == "POSIX") return "en";
    const size_t cut = name.find_first_of("_-");
    const std::string language = name.substr(0, cut);
    const std::string territory = cut == std::string::npos ? std::string() : name.substr(cut + 1);
    if (language.empty()) return {};
    if (language == "zh") return territory == "TW" || territory == "HK" || territory == "MO" ? "zh-Hant" : "zh-Hans";
    if (language == "pt" && territory == "BR") return "pt-BR";
    return language;
}

std::string LoaderLanguage(const std::string& argument, const LocaleEnvironment& environment) {
    if (IsLanguageTag(argument)) return argument;
    const std::string first = environment.language.substr(0, environment.language.find(':'));
    for (const std::string* locale : {&first, &environment.lcAll, &environment.lcMessages, &environment.lang}) {
        const std::string language = LanguageOfLocale(*locale);
        if (!language.empty()) return language;
    }
    return "en";
}

}  // namespace shell
