// Shared by the NTFS test programs: the committed NTFS images (unpacked once per program), their
// Sleuth Kit listings and bytes, the hostile patch table, and a quick scan over a recording builder.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/FileArchive/RSData.h"
#include "engine/NTFSLib/FileReaderEx.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSSearch/NTFSQuickSearch.h"
#include "support/Fixtures.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace ntfstest {

struct ImageCase {
    const char* name;
    u32 sectorSize;
};
inline constexpr ImageCase kImages[] = {{"ntfs512", 512}, {"ntfs4k", 4096}};

// The unpacked image "<name>.img" of tests/fixtures/<folder>, made once per test program.
inline std::filesystem::path Image(const std::string& name, const std::string& folder = "ntfs") {
    static testsupport::TempDir dir;
    static std::map<std::string, std::filesystem::path> done;
    const std::string key = folder + "/" + name;
    auto it = done.find(key);
    if (it != done.end()) return it->second;
    std::filesystem::create_directories(dir / folder);
    auto path = testsupport::UnpackXz(testsupport::FixturePath(key + ".img.xz"), dir / folder);
    done[key] = path;
    return path;
}

struct FlsEntry {
    i64 inode = -1;
    bool deleted = false;
    bool directory = false;
    std::string path;
};

// fls -r -p of a fixture, without the system files, the named streams and the orphan folder. A file
// whose index entry stands but whose record is not in use ("r/-") counts as deleted.
inline std::vector<FlsEntry> FlsListing(const std::string& name, const std::string& folder = "ntfs") {
    std::vector<FlsEntry> out;
    {
        std::ifstream in(testsupport::FixturePath(folder + "/" + name + ".fls.txt"));
        std::string line;
        while (std::getline(in, line)) {
            const size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            FlsEntry e;
            e.path = line.substr(tab + 1);
            if (e.path.empty() || e.path[0] == '$' || e.path.find(':') != std::string::npos) continue;
            const std::string head = line.substr(0, tab);
            e.directory = head.find("d ") != std::string::npos || head.rfind("d/", 0) == 0;
            e.deleted = head.find('*') != std::string::npos || head.find("/-") != std::string::npos;
            const std::string inode = head.substr(head.rfind(' ') + 1);
            e.inode = std::stoll(inode.substr(0, inode.find_first_of("-:")));
            out.push_back(e);
        }
    }
    return out;
}

struct IcatEntry {
    i64 inode = -1;
    std::string sha256;
    i64 size = 0;
};

// path -> icat's bytes of every regular file (of "<name>.icat.txt", or of another golden of that form).
inline std::map<std::string, IcatEntry> IcatSums(const std::string& name, const std::string& folder = "ntfs",
                                                 const std::string& suffix = ".icat.txt") {
    std::map<std::string, IcatEntry> out;
    std::ifstream in(testsupport::FixturePath(folder + "/" + name + suffix));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string inode, sum, size, path;
        std::getline(fields, inode, '\t');
        std::getline(fields, sum, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, path);
        out[path] = {std::stoll(inode), sum, std::stoll(size)};
    }
    return out;
}

// A copy of a fixture image with the named case of hostile.tsv applied, inside dir.
inline std::filesystem::path PatchedImage(const std::string& caseName, const std::filesystem::path& dir,
                                          const std::string& folder = "ntfs") {
    std::ifstream in(testsupport::FixturePath(folder + "/hostile.tsv"));
    std::string line;
    std::getline(in, line);  // header
    std::filesystem::path target;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, image, offset, bytes;
        std::getline(fields, name, '\t');
        std::getline(fields, image, '\t');
        std::getline(fields, offset, '\t');
        std::getline(fields, bytes, '\t');
        if (name != caseName) continue;
        if (target.empty()) {
            target = dir / (caseName + ".img");
            std::filesystem::copy_file(Image(image.substr(0, image.size() - 4), folder), target,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        std::string raw;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) raw.push_back(char(std::stoul(bytes.substr(i, 2), nullptr, 16)));
        std::fstream out(target, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(std::streamoff(std::stoull(offset)));
        out.write(raw.data(), std::streamsize(raw.size()));
    }
    return target;
}

// The case names of hostile.tsv, in order.
inline std::vector<std::string> HostileCases(const std::string& folder = "ntfs") {
    std::vector<std::string> out;
    std::ifstream in(testsupport::FixturePath(folder + "/hostile.tsv"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const std::string name = line.substr(0, line.find('\t'));
        if (out.empty() || out.back() != name) out.push_back(name);
    }
    return out;
}

// One frame of a framed file written by write(CRSData&); the frame's size as read back.
template <class Write>
u32 WriteFrame(const std::string& path, const tagGUIDSIGN& tag, Write&& write) {
    CRSData rs(RS_MODE_WRITE);
    if (!rs.StartRS(path.c_str(), 1)) return 0;
    FILEHEADER h;
    h.status = 1;
    rs.WriteFileHeader(h);
    rs.OpenFrame(tag);
    write(rs);
    rs.CloseFrame();
    rs.EndRS();
    CRSData read(RS_MODE_READ);
    read.StartRS(path.c_str(), 0);
    read.OpenFrame(tag);
    return read.GetFrameSize();
}
// Opens the frame again for read(CRSData&); false when it cannot be opened.
template <class Read>
bool ReadFrame(const std::string& path, const tagGUIDSIGN& tag, Read&& read) {
    CRSData rs(RS_MODE_READ);
    if (!rs.StartRS(path.c_str(), 0) || !rs.OpenFrame(tag)) return false;
    read(rs);
    return true;
}

// The bytes of a found file as CFileReaderEx reads them through its runs; a marker text when it fails.
inline std::string ReadAll(IStorageDevice* device, CNTFSFileNode* node, i64 cluster0, u32 spc) {
    CFileReaderEx reader;
    if (!node || !reader.Open(device, node, cluster0, int(spc))) return "<not opened>";
    std::string out;
    std::vector<u8> chunk(5000);
    for (i64 at = 0; at < node->GetFileSize();) {
        int done = 0;
        if (!reader.Read(at, chunk.data(), int(chunk.size()), done) || done <= 0) return "<read failed>";
        out.append(reinterpret_cast<char*>(chunk.data()), size_t(done));
        at += done;
    }
    return out;
}

// One quick NTFS search over an image file, its nodes kept by a recording builder.
struct QuickScan {
    std::unique_ptr<fattest::FileDevice> device;
    fattest::RecordingTreeBuilder builder;
    testsupport::RecordingProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher{CreateNTFSQuickSearcher()};
    u64 result = 0;

    QuickScan(const std::filesystem::path& image, u32 sectorSize) {
        device = std::make_unique<fattest::FileDevice>(image, sectorSize);
        searcher->SetDirecotryTreeBuilder(&builder);
    }
    u64 Run() { return result = searcher->QuickSearchFiles(device.get(), &progress); }

    using Listed = fattest::RecordingTreeBuilder::Listed;
    // Every node with its path, folders linked by record number from the root (5).
    std::map<std::string, Listed> ByPath() const {
        std::map<std::string, Listed> out;
        for (auto& [partition, listed] : builder.ByPartition(5)) out.merge(listed);
        return out;
    }
};

}  // namespace ntfstest
