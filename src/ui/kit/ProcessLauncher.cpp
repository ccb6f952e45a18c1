#include "ui/kit/ProcessLauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace kit {

namespace {
ProcessLauncher* g_current = nullptr;
}

ProcessLauncher& ProcessLauncher::current() {
    if (g_current) return *g_current;
    static DetachedProcessLauncher system;
    return system;
}

void ProcessLauncher::setCurrent(ProcessLauncher* launcher) { g_current = launcher; }

bool DetachedProcessLauncher::launch(const std::string& program, const std::vector<std::string>& arguments) {
    const QString path = QString::fromStdString(program);
    if (program.empty() || !QFileInfo(path).isAbsolute()) return false;
    QStringList list;
    for (const std::string& argument : arguments) list << QString::fromStdString(argument);
    return QProcess::startDetached(path, list);
}

}  // namespace kit
