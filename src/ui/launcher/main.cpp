// brelvox-launcher: starts brelvox, found in this program's own folder, in the user's language
// ("<language>*loaderflag*"), detached, and ends. `brelvox-launcher [LANGUAGE]`: a language given
// here wins over the one of the environment's locale (shell/LoaderLanguage.h). Ends with 0 when
// brelvox started, else 1.
#include <QCoreApplication>
#include <cstdio>

#include "ui/kit/ProcessLauncher.h"
#include "ui/shell/LoaderLanguage.h"
#include "ui/shell/ProcessStart.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const std::string language =
        shell::LoaderLanguage(argc > 1 ? argv[1] : "", shell::LocaleEnvironment::FromProcess());
    const std::string program = QCoreApplication::applicationDirPath().toStdString() + "/brelvox";
    if (!kit::ProcessLauncher::current().launch(program, {language + shell::kLoaderFlag})) {
        std::fprintf(stderr, "brelvox-launcher: could not start %s\n", program.c_str());
        return 1;
    }
    return 0;
}
