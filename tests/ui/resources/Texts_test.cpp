// Every key the windows and the operations layer pass as a literal to a text call has an English
// text, so no window shows a bare key; the check itself finds a key that has none.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <map>
#include <set>
#include <string>

#include "platform/foundation/PropertyList.h"
#include "ui/kit/Localized.h"

namespace {

// Keys passed as a literal first argument to the text calls: the kit's localizedString and
// localizedFormat, and the platform's Localized.
std::map<std::string, std::string> KeysIn(const QString& text, const QString& where) {
    static const QRegularExpression call(R"re(\b(?:localizedString|localizedFormat|Localized)\s*\(\s*"([^"\\]*)")re");
    std::map<std::string, std::string> keys;  // key -> where it was found
    for (auto match = call.globalMatch(text); match.hasNext();) keys.emplace(match.next().captured(1).toStdString(), where.toStdString());
    return keys;
}

std::map<std::string, std::string> KeysInSources(const QStringList& folders) {
    std::map<std::string, std::string> keys;
    for (const QString& folder : folders) {
        QDirIterator files(folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly)) continue;
            keys.merge(KeysIn(QString::fromUtf8(file.readAll()), file.fileName()));
        }
    }
    return keys;
}

std::set<std::string> EnglishKeys() {
    const auto table = brelvox::foundation::PropertyList::Load(BRELVOX_SOURCE_DIR "/resources/l10n/en.plist");
    EXPECT_TRUE(table && table->IsDictionary()) << "resources/l10n/en.plist is not a dictionary";
    std::set<std::string> keys;
    if (!table) return keys;
    for (const std::string& key : table->Keys())
        if (table->GetString(key)) keys.insert(key);
    return keys;
}

// "key (where)" for each key without an English text.
std::vector<std::string> WithoutEnglish(const std::map<std::string, std::string>& used, const std::set<std::string>& english) {
    std::vector<std::string> missing;
    for (const auto& [key, where] : used)
        if (!english.count(key)) missing.push_back(key + " (" + where + ")");
    return missing;
}

TEST(Texts, EveryKeyPassedAsALiteralHasAnEnglishText) {
    const auto used = KeysInSources({BRELVOX_SOURCE_DIR "/src/ui", BRELVOX_SOURCE_DIR "/src/bridge"});
    // The operations layer names at least its untitled devices and its two bus names this way.
    EXPECT_GE(used.size(), 3u);
    EXPECT_EQ(WithoutEnglish(used, EnglishKeys()), std::vector<std::string>{});
}

TEST(Texts, TheCheckFindsAKeyWithoutAnEnglishText) {
    const QString source = R"(
        label->setStringValue(kit::localizedString("DYD_TWO_MOVIE_TITLE"));
        const QString note = kit::localizedFormat( "NO_SUCH_KEY_ANYWHERE", count);
        return brelvox::foundation::Localized("DEVICE_NAME_UNTITILED");
        const std::string key = "NOT_A_CALL";
    )";
    const auto used = KeysIn(source, "window.cpp");
    EXPECT_EQ(used.size(), 3u);
    EXPECT_EQ(WithoutEnglish(used, EnglishKeys()), std::vector<std::string>{"NO_SUCH_KEY_ANYWHERE (window.cpp)"});
}

TEST(Texts, TheKitsTextCallsGiveTheEnglishTextAndFillFormats) {
    EXPECT_EQ(kit::localizedString("DYD_TWO_PICTURE_TITLE"), QStringLiteral("Pictures"));
    // A fixed text that is no key is its own format.
    EXPECT_EQ(kit::localizedFormat("You have selected %@ in %d file(s).", QStringLiteral("0 byte"), 0),
              QStringLiteral("You have selected 0 byte in 0 file(s)."));
    EXPECT_EQ(kit::localizedFormat("%@ (%llu)", QStringLiteral("caf\u00e9 %d"), std::uint64_t(3)), QStringLiteral("caf\u00e9 %d (3)"));
}

}  // namespace
