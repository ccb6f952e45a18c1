// Starting another program: the system launcher starts it detached with its arguments as given (a
// shell script started through it writes its arguments back); relative and missing programs are
// refused; the recording launcher stands in for it.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "ui/kit/ProcessLauncher.h"
#include "uisupport/FakeServices.h"

namespace {

// The content of file once the launched program has written it whole ("end" as its last line).
QByteArray WaitForFile(const QString& path) {
    QDeadlineTimer patience(60000);
    while (!patience.hasExpired()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray content = file.readAll();
            if (content.endsWith("end\n")) return content;
        }
        QThread::msleep(10);
    }
    return {};
}

TEST(ProcessLauncher, TheSystemLauncherStartsAProgramWithItsArgumentsAsGiven) {
    QTemporaryDir dir;
    const QString out = dir.filePath("arguments.txt");
    kit::DetachedProcessLauncher launcher;
    const std::string tricky = "de*loaderflag* $(touch hacked); `x` 'q'";
    ASSERT_TRUE(launcher.launch("/bin/sh", {"-c", "printf '%s\\n' \"$1\" \"$2\" end > \"$3\"", "sh", tricky,
                                            "second arg", out.toStdString()}));
    EXPECT_EQ(WaitForFile(out), QByteArray::fromStdString(tricky + "\nsecond arg\nend\n"));
    EXPECT_FALSE(QFile::exists(dir.filePath("hacked")));
    EXPECT_FALSE(QFile::exists("hacked"));
}

TEST(ProcessLauncher, RelativeOrMissingProgramsAreRefused) {
    kit::DetachedProcessLauncher launcher;
    EXPECT_FALSE(launcher.launch("", {}));
    EXPECT_FALSE(launcher.launch("sh", {"-c", "true"}));
    EXPECT_FALSE(launcher.launch("./brelvox", {}));
    EXPECT_FALSE(launcher.launch("/nonexistent/brelvox-launcher", {"en*loaderflag*"}));
}

TEST(ProcessLauncher, TheRecordingLauncherStandsInAndRecords) {
    {
        uitest::RecordingLauncher recording;
        EXPECT_TRUE(kit::ProcessLauncher::current().launch("/opt/brelvox/brelvox", {"en*loaderflag*"}));
        recording.answer = false;
        EXPECT_FALSE(kit::ProcessLauncher::current().launch("/opt/brelvox/launcher", {}));
        ASSERT_EQ(recording.launched.size(), 2u);
        EXPECT_EQ(recording.launched[0].program, "/opt/brelvox/brelvox");
        EXPECT_EQ(recording.launched[0].arguments, std::vector<std::string>{"en*loaderflag*"});
    }
    EXPECT_NE(dynamic_cast<kit::DetachedProcessLauncher*>(&kit::ProcessLauncher::current()), nullptr);
}

}  // namespace
