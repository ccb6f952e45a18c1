// The two images of the benchmarks that scan under a machine's conditions (a slow disk, a busy machine):
// a volume for the quick scan and a disk for the deep one, as given, or in smoke mode a FAT volume of 300
// files (bench/fat's script) and the FAT fixture disk, made in the smoke run's folder.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace scanimages {

struct Images {
    std::string quick, deep;
    std::filesystem::path work;  // where outputs go: the smoke folder, or the deep image's folder
};

// The smoke run's images, made in dir with names beginning with prefix; false (said on standard error
// after who) when they cannot be made. benchDir is the source tree's bench folder.
inline bool MakeSmokeImages(const std::filesystem::path& dir, const std::string& prefix, const std::string& benchDir,
                            const char* who, Images& out) {
    out.work = dir;
    std::filesystem::create_directories(dir);
    out.quick = (dir / (prefix + "-quick.img")).string();
    out.deep = (dir / (prefix + "-deep.img")).string();
    const std::string make = "rm -f '" + out.quick + "' && '" + benchDir + "/fat/make-image.sh' '" + out.quick +
                             "' 300 >/dev/null && xz -dc '" + benchDir + "/../tests/fixtures/fat-disk/disk.img.xz' > '" +
                             out.deep + "'";
    if (std::system(make.c_str()) == 0) return true;
    std::fprintf(stderr, "%s: cannot make the smoke images in %s\n", who, dir.c_str());
    return false;
}

inline Images Given(const std::string& quick, const std::string& deep) {
    Images images{quick, deep, std::filesystem::path(deep).parent_path()};
    if (images.work.empty()) images.work = ".";
    return images;
}

// The engine driver beside this benchmark in the build tree.
inline std::string Driver() {
    return std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/../../tools/brelvox-scan";
}

}  // namespace scanimages
