// Shared by the exFAT test programs: the committed exFAT images with their Sleuth Kit goldens and planted
// sums, entry sets made by hand, and a small exFAT volume built in memory.
#pragma once

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/EXFatSearch/ExFatDirEntry.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/FATLib/FatTestSupport.h"
#include "support/Fixtures.h"
#include "support/MemoryDevice.h"

namespace exfattest {

struct ImageCase {
    const char* name;
    u32 sectorSize;
    i64 firstSector;  // of the volume inside the image
    i64 sectors;      // -1: to the end of the image
};

// The committed images: 4 KiB and 32 KiB clusters, 4096-byte sectors, and a volume inside a GPT disk.
inline const std::vector<ImageCase>& Images() {
    static const std::vector<ImageCase> images = {
        {"exfat-4k", 512, 0, -1},
        {"exfat-32k", 512, 0, -1},
        {"exfat-4kn", 4096, 0, -1},
        {"gpt-exfat", 512, 2048, 65536},
    };
    return images;
}

inline std::filesystem::path Image(const std::string& name) { return fattest::Image(name, "exfat"); }
inline std::filesystem::path PatchedImage(const std::string& caseName, const std::filesystem::path& dir) {
    return fattest::PatchedImage(caseName, dir, "exfat");
}
inline std::map<std::string, std::vector<fattest::Patch>> HostilePatches() { return fattest::HostilePatches("exfat"); }
inline std::map<std::string, std::string> IcatSums(const std::string& name) {
    return fattest::IcatSums(name, "exfat");
}

// fls -r -p of a fixture without the volume label, the metadata files ($ALLOC_BITMAP, $UPCASE_TABLE) and
// the orphan files, which only a deep search finds.
inline std::vector<fattest::FlsEntry> FlsListing(const std::string& name) {
    std::vector<fattest::FlsEntry> out;
    for (auto& e : fattest::FlsListing(name, "exfat")) {
        if (!e.path.empty() && e.path[0] == '$') continue;
        out.push_back(e);
    }
    return out;
}

// Tab-separated "first<TAB>second<TAB>path" lines of a fixture file, keyed by path.
inline std::map<std::string, std::string> ColumnByPath(const std::string& file, int column) {
    std::map<std::string, std::string> out;
    std::ifstream in(testsupport::FixturePath("exfat/" + file));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string f; std::getline(parts, f, '\t');) fields.push_back(f);
        if (fields.size() >= 2 && column < static_cast<int>(fields.size())) out[fields.back()] = fields[column];
    }
    return out;
}

// path -> sha256 of the bytes the generator wrote (deleted files included; empty files left out).
inline std::map<std::string, std::string> PlantedSums(const std::string& name) {
    return ColumnByPath(name + ".planted.txt", 0);
}

// path -> the sectors istat lists for the file (zeros, istat's filler, left out).
inline std::map<std::string, std::vector<i64>> IstatSectors(const std::string& name) {
    std::map<std::string, std::vector<i64>> out;
    for (const auto& [path, text] : ColumnByPath(name + ".istat.txt", 1)) {
        std::istringstream in(text);
        std::vector<i64>& sectors = out[path];
        for (i64 s = 0; in >> s;) {
            if (s != 0) sectors.push_back(s);
        }
    }
    return out;
}

// A DOS timestamp: 2021-03-04 05:06:08.
inline constexpr u32 kStamp = ((u32{41} << 9 | 3u << 5 | 4u) << 16) | (5u << 11 | 6u << 5 | 4u);

// One entry set as it lies in a folder.
struct SetShape {
    std::u16string name = u"file.txt";
    u16 attributes = 0x20;
    u32 firstCluster = 0;
    u64 length = 0;
    bool noFatChain = true;
    bool deleted = false;
    u32 stamp = kStamp;
};

// The bytes of a set (file, stream and name entries) with its checksum.
inline std::vector<u8> MakeSet(const SetShape& shape) {
    namespace e = exfat::entry;
    const size_t names = (shape.name.size() + 14) / 15;
    std::vector<u8> set((names + 2) * e::kSize, 0);
    ByteWriter w(set);
    const u8 inUse = shape.deleted ? 0 : e::kInUseBit;
    w.U8(0, static_cast<u8>(e::kDeletedFile | inUse));
    w.U8(exfat::file::kSecondaryCount, static_cast<u8>(names + 1));
    w.Le16(exfat::file::kAttributes, shape.attributes);
    w.Le32(exfat::file::kCreateTime, shape.stamp);
    w.Le32(exfat::file::kModifiedTime, shape.stamp);
    w.Le32(exfat::file::kAccessedTime, shape.stamp);
    const size_t s = e::kSize;
    w.U8(s, static_cast<u8>(e::kDeletedStream | inUse));
    w.U8(s + exfat::stream::kFlags, static_cast<u8>(0x01 | (shape.noFatChain ? exfat::stream::kNoFatChainFlag : 0)));
    w.U8(s + exfat::stream::kNameLength, static_cast<u8>(shape.name.size()));
    w.Le64(s + exfat::stream::kValidDataLength, shape.length);
    w.Le32(s + exfat::stream::kFirstCluster, shape.firstCluster);
    w.Le64(s + exfat::stream::kDataLength, shape.length);
    for (size_t i = 0; i < names; ++i) {
        const size_t at = (2 + i) * e::kSize;
        w.U8(at, static_cast<u8>(e::kDeletedName | inUse));
        for (size_t c = 0; c < 15 && i * 15 + c < shape.name.size(); ++c)
            w.Le16(at + exfat::name::kCharacters + 2 * c, static_cast<u16>(shape.name[i * 15 + c]));
    }
    // The checksum of a deleted set is the one it had in use.
    w.Le16(exfat::file::kSetChecksum, ExFatSetChecksum(ByteReader(set), shape.deleted));
    return set;
}

// The geometry of a boot sector made by hand; the defaults make a valid 512-byte-sector volume whose last
// cluster ends on its last sector.
struct BootGeometry {
    u32 sectorShift = 9;
    u32 clusterShift = 3;
    u64 total = 4096;
    u32 fatOffset = 16;
    u32 fatLength = 8;
    u32 heap = 32;
    u32 clusters = 508;
    u32 root = 4;
    u8 fats = 1;
};

inline std::vector<u8> MakeBootSector(const BootGeometry& g) {
    namespace b = exfat::boot;
    std::vector<u8> sector(size_t{1} << g.sectorShift, 0);
    ByteWriter w(sector);
    w.Bytes(b::kFileSystemName, b::kName, 8);
    w.Le64(b::kVolumeLength, g.total);
    w.Le32(b::kFatOffset, g.fatOffset);
    w.Le32(b::kFatLength, g.fatLength);
    w.Le32(b::kClusterHeapOffset, g.heap);
    w.Le32(b::kClusterCount, g.clusters);
    w.Le32(b::kRootCluster, g.root);
    w.U8(b::kBytesPerSectorShift, static_cast<u8>(g.sectorShift));
    w.U8(b::kSectorsPerClusterShift, static_cast<u8>(g.clusterShift));
    w.U8(b::kNumberOfFats, g.fats);
    w.U8(b::kSignature, 0x55);
    w.U8(b::kSignature + 1, 0xAA);
    return sector;
}

// A small exFAT volume in memory: one FAT at sector 8, the heap from sector 64, root folder at cluster 2.
class SyntheticVolume {
public:
    struct Folder {
        std::vector<u32> clusters;
        size_t used = 0;  // bytes of entries written
    };

    explicit SyntheticVolume(u32 sectorSize = 512, u32 sectorsPerCluster = 1, u32 clusters = 256)
        : m_sectorSize(sectorSize), m_spc(sectorsPerCluster) {
        BootGeometry g;
        g.sectorShift = Shift(sectorSize);
        g.clusterShift = Shift(sectorsPerCluster);
        g.total = kHeap + u64{clusters} * sectorsPerCluster;
        g.fatOffset = kFatStart;
        g.fatLength = kHeap - kFatStart;
        g.heap = kHeap;
        g.clusters = clusters;
        g.root = 2;
        const std::vector<u8> boot = MakeBootSector(g);
        m_bytes.assign(g.total * sectorSize, 0);
        std::memcpy(m_bytes.data(), boot.data(), boot.size());
        SetFat(0, 0xFFFFFFF8);
        SetFat(1, 0xFFFFFFFF);
        m_next = 2;
        root = NewFolder(1, false);
    }

    u32 ClusterBytes() const { return m_sectorSize * m_spc; }
    i64 SectorOf(u32 cluster) const { return kHeap + i64{cluster - 2} * m_spc; }
    void SetFat(u32 cluster, u32 value) {
        ByteWriter(m_bytes).Le32(u64{kFatStart} * m_sectorSize + 4 * u64{cluster}, value);
    }
    // Takes count clusters in a row; chained writes their FAT chain, else the FAT stays free.
    std::vector<u32> Take(u32 count, bool chained) {
        std::vector<u32> out;
        for (u32 i = 0; i < count; ++i) out.push_back(m_next++);
        if (chained) {
            for (size_t i = 0; i < out.size(); ++i) SetFat(out[i], i + 1 < out.size() ? out[i + 1] : 0xFFFFFFFF);
        }
        return out;
    }
    Folder NewFolder(u32 clusters, bool contiguous) { return Folder{Take(clusters, !contiguous), 0}; }
    // Appends a set to a folder; false when the folder is full.
    bool Add(Folder& folder, const SetShape& shape) { return AddEntries(folder, MakeSet(shape)); }
    // Appends whole 32-byte entries as they are; false when the folder is full.
    bool AddEntries(Folder& folder, const std::vector<u8>& set) {
        for (size_t i = 0; i < set.size(); i += exfat::entry::kSize) {
            const size_t slot = folder.used / ClusterBytes();
            if (slot >= folder.clusters.size()) return false;
            const u64 at = u64(SectorOf(folder.clusters[slot])) * m_sectorSize + folder.used % ClusterBytes();
            std::memcpy(m_bytes.data() + at, set.data() + i, exfat::entry::kSize);
            folder.used += exfat::entry::kSize;
        }
        return true;
    }
    // A sub-folder of parent, its set written there.
    Folder AddFolder(Folder& parent, const std::u16string& name, u32 clusters, bool contiguous, bool deleted = false) {
        Folder folder = NewFolder(clusters, contiguous);
        SetShape shape;
        shape.name = name;
        shape.attributes = 0x10;
        shape.firstCluster = folder.clusters.front();
        shape.length = u64{clusters} * ClusterBytes();
        shape.noFatChain = contiguous;
        shape.deleted = deleted;
        Add(parent, shape);
        return folder;
    }
    std::unique_ptr<testsupport::MemoryDevice> Device() const {
        return std::make_unique<testsupport::MemoryDevice>(m_bytes, m_sectorSize);
    }
    std::vector<u8>& Bytes() { return m_bytes; }

    static constexpr u32 kFatStart = 8;
    static constexpr u32 kHeap = 64;
    Folder root;

private:
    static u32 Shift(u32 v) {
        u32 s = 0;
        while ((1u << s) < v) ++s;
        return s;
    }

    u32 m_sectorSize;
    u32 m_spc;
    u32 m_next = 2;
    std::vector<u8> m_bytes;
};

}  // namespace exfattest
