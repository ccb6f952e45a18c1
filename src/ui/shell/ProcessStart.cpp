#include "ui/shell/ProcessStart.h"

#include <QCoreApplication>

#include "platform/foundation/Localization.h"
#include "platform/foundation/UserDefaults.h"
#include "ui/kit/KeepAwake.h"
#include "ui/kit/ProcessLauncher.h"
#include "ui/shell/ShellSettings.h"

namespace shell {

namespace defaults_key = brelvox::foundation::defaults_key;

std::optional<std::string> LanguageArgument(const std::string& argument) {
    for (unsigned char c : argument) {
        if (c >= 0x80) return std::nullopt;
    }
    const std::string flag = kLoaderFlag;
    if (argument.size() >= flag.size() && argument.compare(argument.size() - flag.size(), flag.size(), flag) == 0)
        return argument.substr(0, argument.size() - flag.size());
    if (argument.empty()) return std::nullopt;
    return argument;
}

bool IsSavedResultPath(const std::string& argument) {
    return argument.find(kSavedResultMarker) != std::string::npos;
}

void setCurLanguage(const std::string& language) {
    Settings::Defaults().SetStringArray(defaults_key::kAppleLanguages, {language});
    brelvox::foundation::Localization::Main().SetLanguage(language);
}

std::string LoaderPath(const std::string& programFolder) {
    return programFolder + "/" + kLoaderProgramName;
}

bool ZZManRunLoader() {
    const std::string folder = QCoreApplication::applicationDirPath().toStdString();
    if (folder.empty()) return false;
    return kit::ProcessLauncher::current().launch(LoaderPath(folder), {});
}

// The platform answers as a system of 10.15, past the 10.8 where the older 30-second activity timer
// gave way to an assertion: the hold is always the desktop's inhibitor.
bool PreventSleep() {
    return kit::KeepAwake::current().take(kKeepAwakeReason);
}

void ReleasePreventObj() {
    kit::KeepAwake::current().release();
}

std::optional<int> StartProcess(int argc, char** argv) {
    const std::optional<std::string> language = argc > 1 ? LanguageArgument(argv[1]) : std::nullopt;
    if (language) {
        setCurLanguage(*language);
    } else if (ZZManRunLoader()) {
        return 0;
    }
    PreventSleep();

    brelvox::foundation::UserDefaults& defaults = Settings::Defaults();
    const bool savedResult = argc > 2 && IsSavedResultPath(argv[2]);
    defaults.SetString(defaults_key::kRsfPath, savedResult ? std::string(argv[2]) : std::string());
    return std::nullopt;
}

}  // namespace shell
