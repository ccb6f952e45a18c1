// The windows name their fonts "Helvetica": the machine resolves it to Nimbus Sans (fonts-urw-base35),
// which has Helvetica's metrics, so texts measure and wrap as the layouts were drawn for.
#include <gtest/gtest.h>

#include <QFont>
#include <QFontInfo>

namespace {

TEST(Fonts, HelveticaIsNimbusSans) {
    for (const bool bold : {false, true}) {
        QFont font(QStringLiteral("Helvetica"), 13);
        font.setBold(bold);
        const QFontInfo info(font);
        // Qt adds the foundry ("Nimbus Sans [urw]") where a family comes from more than one.
        EXPECT_EQ(info.family().section(QStringLiteral(" ["), 0, 0).toStdString(), "Nimbus Sans")
            << info.family().toStdString() << (bold ? ", bold" : ", regular");
        EXPECT_EQ(info.bold(), bold);
    }
}

}  // namespace
