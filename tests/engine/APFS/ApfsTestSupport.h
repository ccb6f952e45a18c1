// Shared pieces of the APFS tests: the committed images (tests/fixtures/apfs) and the shared ones
// (../shared/fixtures), their Sleuth Kit and fsapfsinfo goldens, and a scan of an image through
// the block-offering harness into a capturing builder.
#pragma once

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/APFS/APFSFileNode.h"
#include "engine/DataRecovery/FileReader.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/ApfsBlockScan.h"
#include "support/CapturingTreeBuilder.h"
#include "support/Fixtures.h"
#include "support/ImageFileDevice.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace apfstest {

// tests/fixtures/apfs/NAME.img, unpacked once for the build's tests.
inline std::filesystem::path Image(const std::string& name) {
    return testsupport::UnpackXzShared(testsupport::FixturePath("apfs/" + name + ".img.xz"));
}

// A shared image (apfs-macos.raw, apfs-1g-sparse.img) unpacked once, or nothing without the shared folder.
inline std::optional<std::filesystem::path> SharedImage(const std::string& file) {
    const auto xz = testsupport::SharedFixturePath(file + ".xz");
    if (!xz) return std::nullopt;
    return testsupport::UnpackXzShared(*xz);
}

// A path as the search names it: every component through the name rule, ".DS_Store" components gone.
inline std::optional<std::string> AsSearchNames(const std::string& path) {
    std::string out;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        const std::string stored = part + '\0';
        if (!APFSFileNode::NameFilter(reinterpret_cast<const u8*>(stored.data()), stored.size())) return std::nullopt;
        const std::string named = APFSFileNode::NameRule(reinterpret_cast<const u8*>(stored.data()), stored.size());
        out += (out.empty() ? "" : "/") + std::string(named.c_str());
    }
    return out;
}

struct Listed {
    std::string path;
    i64 size = 0;
    bool folder = false;
    bool operator<(const Listed& o) const { return path < o.path; }
    bool operator==(const Listed& o) const { return path == o.path && size == o.size && folder == o.folder; }
};

inline std::ostream& operator<<(std::ostream& out, const Listed& l) {
    return out << (l.folder ? "d " : "r ") << l.path << " " << l.size;
}

// An fls golden ("type inode:\tpath\tsize") with the search's names, sorted.
inline std::vector<Listed> FlsGolden(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<Listed> out;
    std::string line;
    while (std::getline(in, line)) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() < 3 || f[0].empty()) continue;
        if (auto named = AsSearchNames(f[1])) out.push_back({*named, std::stoll(f[2]), f[0][0] == 'd'});
    }
    std::sort(out.begin(), out.end());
    return out;
}

struct IcatLine {
    std::string path;  // with the search's names
    std::string sha256;
    i64 size = 0;
};

// An icat golden ("inode\tsha256\tsize\tpath"); files whose names the search drops are left out.
inline std::vector<IcatLine> IcatGolden(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<IcatLine> out;
    std::string line;
    while (std::getline(in, line)) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() < 4) continue;
        if (auto named = AsSearchNames(f[3])) out.push_back({*named, f[1], std::stoll(f[2])});
    }
    return out;
}

// A run list as text: "start+length" per run, in order ("" for none).
inline std::string RunText(IDataRunList* list) {
    std::string out;
    for (DataRun* run = list ? list->GetFirst() : nullptr; run; run = list->GetNext())
        out += (out.empty() ? "" : " ") + std::to_string(run->start) + "+" + std::to_string(run->length);
    return out;
}

// The text after "Name\t\t\t\t: " in an fsapfsinfo golden.
inline std::string FsapfsinfoName(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto at = line.find("\tName");
        if (at != std::string::npos) return line.substr(line.find(": ") + 2);
    }
    return "";
}

// A scan of a whole image, as the deep scan runs it, into a capturing builder.
struct Scan {
    Scan(const std::filesystem::path& image, u32 sectorSize, u64 rangeSectors = 8192)
        : device(image, sectorSize), scan(std::make_unique<testsupport::ApfsBlockScan>(&device, &builder)) {
        scan->Run(rangeSectors);
        scan->Finish();
        entries = builder.List(SEARCHER_APFS);
    }

    // The nodes the containers handed over and the builder took that are not deleted.
    std::vector<Listed> Live() const {
        std::vector<Listed> out;
        for (const auto& e : entries) {
            if (!e.deleted) out.push_back({e.path, e.size, e.directory});
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    const testsupport::CapturingTreeBuilder::Entry* Find(const std::string& path) const {
        for (const auto& e : entries) {
            if (e.path == path) return &e;
        }
        return nullptr;
    }
    // The node's bytes read through its runs with CFileReader, or nothing when the read fails.
    std::optional<std::string> Bytes(IFileNode* node, int container = 0) {
        CSearchedPartitionInfo record = scan->PartitionOf(container);
        CFileReader reader;
        if (!reader.Open(&device, dynamic_cast<CFileNode*>(node), &record)) return std::nullopt;
        std::string out(static_cast<size_t>(node->GetFileSize()), '\0');
        int got = 0;
        if (!reader.Read(0, reinterpret_cast<u8*>(out.data()), static_cast<int>(out.size()), got, nullptr) ||
            got != static_cast<int>(out.size()))
            return std::nullopt;
        return out;
    }

    // What a copy of node can take (the reader's readable size), or nothing when it cannot be opened.
    std::optional<i64> ReadableSize(IFileNode* node, int container = 0) {
        CSearchedPartitionInfo record = scan->PartitionOf(container);
        CFileReader reader;
        if (!reader.Open(&device, dynamic_cast<CFileNode*>(node), &record)) return std::nullopt;
        return reader.GetReadableSize();
    }

    testsupport::ImageFileDevice device;
    testsupport::CapturingTreeBuilder builder;
    // Destroyed first: the containers delete the nodes nobody took, the builder then the ones it took.
    std::unique_ptr<testsupport::ApfsBlockScan> scan;
    std::vector<testsupport::CapturingTreeBuilder::Entry> entries;
};

}  // namespace apfstest
