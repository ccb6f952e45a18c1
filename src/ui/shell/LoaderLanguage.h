// The language the launcher starts the program in: the one it was given as its first argument when
// that is a plain language tag, else the user's locale from the environment (LANGUAGE's first entry,
// LC_ALL, LC_MESSAGES, LANG, the first that is set), else English.
#pragma once

#include <string>

namespace shell {

struct LocaleEnvironment {
    std::string language;    // LANGUAGE, a ':'-separated list
    std::string lcAll;       // LC_ALL
    std::string lcMessages;  // LC_MESSAGES
    std::string lang;        // LANG
    // The process's own environment.
    static LocaleEnvironment FromProcess();
};

// A language tag as the interface tables name it: "de_DE.UTF-8" -> "de", "pt_BR" -> "pt-BR",
// "zh_CN" -> "zh-Hans", "zh_TW" -> "zh-Hant"; "C" and "POSIX" -> "en". Empty when locale is
// empty or holds anything but letters, digits, '_', '-', '.', '@'.
std::string LanguageOfLocale(const std::string& locale);
// Whether text may be passed on as a language (letters, digits, '-' and '_', 1 to 32 of them).
bool IsLanguageTag(const std::string& text);
// The launcher's choice; argument is its first argument (empty when none).
std::string LoaderLanguage(const std::string& argument, const LocaleEnvironment& environment);

}  // namespace shell
