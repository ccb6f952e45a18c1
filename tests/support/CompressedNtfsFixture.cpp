#include "support/CompressedNtfsFixture.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/Fixtures.h"

namespace testsupport {

const FixtureFile& CompressedNtfsFixture::File(const std::string& name) const {
    for (const FixtureFile& f : files) {
        if (f.name == name) return f;
    }
    throw std::runtime_error("no fixture file " + name);
}

CompressedNtfsFixture LoadCompressedNtfsFixture(const std::filesystem::path& dir) {
    CompressedNtfsFixture fx;
    fx.image = UnpackXz(FixturePath("ntfs-compressed/ntfs-compressed.img.xz"), dir);
    std::ifstream in(FixturePath("ntfs-compressed/expected.txt"));
    if (!in) throw std::runtime_error("cannot read ntfs-compressed/expected.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "cluster") {
            words >> fx.clusterSize;
        } else if (kind == "file") {
            FixtureFile f;
            words >> f.name >> f.size >> f.sha256 >> f.inode;
            fx.files.push_back(f);
        } else if (kind == "run") {
            std::string name;
            FixtureRun r{};
            words >> name >> r.lcn >> r.length;
            if (fx.files.empty() || fx.files.back().name != name) throw std::runtime_error("run before its file");
            fx.files.back().runs.push_back(r);
        }
    }
    if (fx.clusterSize == 0 || fx.files.empty()) throw std::runtime_error("ntfs-compressed/expected.txt is incomplete");
    return fx;
}

}  // namespace testsupport
