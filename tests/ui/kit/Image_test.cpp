// Named images: every name the windows use resolves; an unknown name shows a placeholder; a file
// type gets an icon even without a desktop theme.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <set>

#include "ui/kit/Image.h"

namespace {

// The text between the parenthesis at open and its partner.
QString Arguments(const QString& text, qsizetype open) {
    int depth = 0;
    for (qsizetype i = open; i < text.size(); ++i) {
        if (text[i] == '(') ++depth;
        if (text[i] == ')' && --depth == 0) return text.mid(open + 1, i - open - 1);
    }
    return {};
}

// Image names passed as literals to the calls that take image names, in every source of src/ui.
std::set<QString> ImageNamesUsedInSources() {
    std::set<QString> names;
    const QRegularExpression call(R"((Image::named|setImageFromFileNormalName)\s*\()");
    const QRegularExpression literal(R"re("([^"\\]*)")re");
    QDirIterator files(QStringLiteral(BRELVOX_SOURCE_DIR "/src/ui"), {"*.cpp", "*.h"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (auto match = call.globalMatch(text); match.hasNext();) {
            const auto m = match.next();
            const QString arguments = Arguments(text, m.capturedEnd() - 1);
            for (auto lit = literal.globalMatch(arguments); lit.hasNext();) {
                const QString name = lit.next().captured(1);
                if (!name.isEmpty()) names.insert(name);
            }
        }
    }
    return names;
}

TEST(Image, EveryImageNameUsedInTheWindowsResolves) {
    const std::set<QString> names = ImageNamesUsedInSources();
    // The window buttons (15), the demo's four-state button (4) at least.
    EXPECT_GE(names.size(), 19u);
    for (const QString& name : names) {
        EXPECT_TRUE(kit::Image::exists(name)) << "no image named " << name.toStdString();
        const kit::Image image = kit::Image::named(name);
        EXPECT_FALSE(image.isPlaceholder()) << name.toStdString();
        EXPECT_GT(image.size().width, 0) << name.toStdString();
    }
}

TEST(Image, AnUnknownNameShowsAPlaceholderAndAnEmptyNameNoImage) {
    const kit::Image missing = kit::Image::named("no_such_image_anywhere");
    EXPECT_FALSE(missing.isNull());
    EXPECT_TRUE(missing.isPlaceholder());
    EXPECT_EQ(missing.size(), kit::MakeSize(16, 16));
    EXPECT_TRUE(kit::Image::named("").isNull());
    EXPECT_TRUE(kit::Image::loadImage("no_such_image_anywhere").isNull());
}

TEST(Image, SvgImagesHaveTheirOwnSizeAndLoadOffTheMainThreadAsQImage) {
    const kit::Image image = kit::Image::named("window_close_active");
    EXPECT_EQ(image.size(), kit::MakeSize(14, 16));
    const QImage twice = kit::Image::loadImage("next_normal", 2.0);
    EXPECT_EQ(twice.size(), QSize(240, 80));
    // The plate's fill, well inside the rounded corners.
    EXPECT_EQ(QColor(twice.pixel(20, 40)), QColor(53, 130, 248));
}

TEST(Image, AFileTypeGetsAnIconAndAnUnknownTypeTheGenericOne) {
    EXPECT_FALSE(kit::IconForFileType("jpg").isNull());
    EXPECT_FALSE(kit::IconForFileType("no-such-extension").isNull());
}

}  // namespace
