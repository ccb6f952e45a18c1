// The deep scan of the carving corpus, end to end through the driver: every planted file is found at
// its sector with its size, copied out byte for byte, named from its sectors (or its tags), filed under
// its extension or label folder with its date, and the type filter keeps or drops the JPEGs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/CarvingManifest.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

using testsupport::TempDir;

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

using Planted = testsupport::CarvingManifestRow;

struct Listed {
    int searcher = 0;
    std::string path;
    long long size = 0;
    bool folder = false;
    long long mtime = 0;
};

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!line.empty() && line.back() == separator) fields.emplace_back();
    return fields;
}

std::vector<Planted> ReadManifest() {
    return testsupport::ReadCarvingManifest(true);
}

// "2011:05:06 10:20:30" (Exif form) as seconds since 1970, the test run being in UTC.
long long ExifSeconds(const std::string& text) {
    std::tm tm{};
    std::istringstream in(text);
    char c = 0;
    in >> tm.tm_year >> c >> tm.tm_mon >> c >> tm.tm_mday >> tm.tm_hour >> c >> tm.tm_min >> c >> tm.tm_sec;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<long long>(timegm(&tm));
}

std::vector<Listed> ParseListing(const std::string& text) {
    std::vector<Listed> entries;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("copied ", 0) == 0) continue;
        const auto f = Split(line, '\t');
        if (f.size() != 6) {
            ADD_FAILURE() << "listing line without 6 fields: " << line;
            continue;
        }
        entries.push_back({std::stoi(f[0]), f[1], std::stoll(f[2]), f[4] == "1", std::stoll(f[5])});
    }
    return entries;
}

bool IsJpeg(const Listed& e) { return !e.folder && e.path.size() > 4 && e.path.compare(e.path.size() - 4, 4, ".JPG") == 0; }

bool HasExtension(const Listed& e, const std::string& type) {
    const std::string ext = "." + type;
    return !e.folder && e.path.size() > ext.size() && e.path.compare(e.path.size() - ext.size(), ext.size(), ext) == 0;
}

class CarvingScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
        image = testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path()).string();
        planted = ReadManifest();
        ASSERT_FALSE(planted.empty());
    }

    // Runs the driver; its engine lines go to a file, the list and summary come back.
    int Scan(const std::string& arguments, std::string& out, std::string& err) {
        const std::string errPath = (dir / "stderr.txt").string();
        const int status =
            testsupport::RunCommand(kDriver + " " + arguments + " " + image + " 2>" + errPath + " </dev/null", &out);
        err = testsupport::ReadFile(errPath);
        return status;
    }

    TempDir dir;
    std::string image;
    std::vector<Planted> planted;
};

// Every planted file: listed once at its place with its size and date, copied out with the same bytes
// (or beginning with them, where the type's rule sizes it longer) and the date as the file's modification
// time; nothing else is taken for a file of a planted type.
TEST_F(CarvingScanTest, DeepScanFindsEveryPlantedFileExactly) {
    const std::string out = (dir / "out").string();
    std::string list, err;
    ASSERT_EQ(Scan("--deep --list - --recover " + out, list, err), 0) << err;
    EXPECT_NE(list.find("copied " + std::to_string(planted.size()) + ", failed 0\n"), std::string::npos) << list;

    const std::vector<Listed> entries = ParseListing(list);
    std::map<std::string, Listed> byPath;
    for (const Listed& e : entries) byPath[e.path] = e;
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.path);
        const auto found = byPath.find(p.path);
        ASSERT_NE(found, byPath.end()) << "not listed as " << p.path << " in\n" << list;
        EXPECT_EQ(found->second.searcher, 34);
        EXPECT_EQ(found->second.size, p.size);
        const long long date = p.time.empty() ? 0 : ExifSeconds(p.time);
        EXPECT_EQ(found->second.mtime, date);

        const std::filesystem::path copy = std::filesystem::path(out) / p.path;
        ASSERT_TRUE(std::filesystem::is_regular_file(copy)) << copy;
        const std::string bytes = testsupport::ReadFile(copy);
        EXPECT_EQ(static_cast<long long>(bytes.size()), p.size);
        if (p.check == "exact") {
            EXPECT_EQ(testsupport::Sha256Hex(bytes), p.sha256);
        } else {
            ASSERT_GE(static_cast<long long>(bytes.size()), p.plantedSize);
            EXPECT_EQ(testsupport::Sha256Hex(bytes.substr(0, static_cast<size_t>(p.plantedSize))), p.sha256);
        }
        if (date) {
            struct stat st {};
            ASSERT_EQ(::stat(copy.c_str(), &st), 0);
            EXPECT_EQ(static_cast<long long>(st.st_mtime), date);
        }
    }
    // Label folders are listed as folders (the camera folders hang under "Camera", one per make), and no
    // file of a planted type is found twice or made up.
    std::map<std::string, long> perType;
    for (const Planted& p : planted) {
        ++perType[p.type];
        if (p.tagKind.empty()) continue;
        const auto folder = byPath.find(p.path.substr(0, p.path.rfind('/')));
        ASSERT_NE(folder, byPath.end()) << p.path;
        EXPECT_TRUE(folder->second.folder);
    }
    for (const auto& [type, count] : perType) {
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(), [&](const Listed& e) { return HasExtension(e, type); }),
                  count)
            << type << " in\n"
            << list;
    }
}

// The type bits choose the categories listed: documents or movies only drop every JPEG (folders may
// stay), pictures keep them all.
TEST_F(CarvingScanTest, TypeFilterKeepsOnlyTheChosenCategories) {
    struct Case {
        const char* bits;
        bool jpegs;
    };
    const Case cases[] = {{"1", false}, {"2", true}, {"3", true}, {"4", false}, {"0x7d", false}, {"127", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        std::string list, err;
        ASSERT_EQ(Scan(std::string("--deep --types ") + c.bits + " --list -", list, err), 0) << err;
        const std::vector<Listed> entries = ParseListing(list);
        const long jpegs = std::count_if(entries.begin(), entries.end(), IsJpeg);
        const long planting = std::count_if(planted.begin(), planted.end(), [](const Planted& p) { return p.type == "JPG"; });
        EXPECT_EQ(jpegs, c.jpegs ? planting : 0L) << list;
    }
}

// A driver outside its source tree (built elsewhere, or copied) still finds the file-type catalogue:
// the resources folder of its build is compiled in. One that cannot read the catalogue refuses a
// --types filter in one clear line instead of listing every file as "other".
TEST_F(CarvingScanTest, TheCatalogueIsFoundOutsideTheSourceTree) {
    std::filesystem::create_directory(dir / "bin");
    const std::string copy = (dir / "bin/brelvox-scan").string();
    std::filesystem::copy_file(kDriver, copy);
    const std::string errPath = (dir / "stderr.txt").string();
    std::string list;
    const int status = testsupport::RunCommand(copy + " --deep --types 2 --list - " + image + " 2>" + errPath, &list);
    ASSERT_EQ(status, 0) << testsupport::ReadFile(errPath);
    const std::vector<Listed> entries = ParseListing(list);
    const long jpegs = std::count_if(planted.begin(), planted.end(), [](const Planted& p) { return p.type == "JPG"; });
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(), IsJpeg), jpegs) << list;

    const std::string missing = "BRELVOX_RESOURCES=" + (dir / "none").string() + " ";
    std::string out;
    EXPECT_EQ(testsupport::RunCommand(missing + copy + " --deep --types 2 --list - " + image + " 2>" + errPath, &out), 1);
    const std::string err = testsupport::ReadFile(errPath);
    EXPECT_NE(err.find("brelvox-scan: --types 2 needs the file-type catalogue"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(out.empty()) << out;
}

}  // namespace
