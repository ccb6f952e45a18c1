// Shared by the HFS+ test programs: images (committed, shared, or made by the writer in memory) on
// memory devices, a recording tree builder with paths, The Sleuth Kit's listings and file reads through
// found nodes.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/DataRecovery/FileReader.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/HFSPlusLib/HFSPlusCompressFileReader.h"
#include "engine/HFSPlusLib/HFSPlusFileNode.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/Fixtures.h"
#include "support/HfsPlusFixtures.h"
#include "support/MemoryDevice.h"
#include "support/TempDir.h"

namespace hfstest {

using testsupport::MemoryDevice;

inline std::vector<u8> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
}

// The bytes of a committed writer image (tests/fixtures/hfsplus), unpacked once.
inline const std::vector<u8>& FixtureBytes(const std::string& name) {
    static std::map<std::string, std::vector<u8>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) it = cache.emplace(name, FileBytes(testsupport::hfs::FixtureImage(name))).first;
    return it->second;
}

// A shared real volume (../shared/fixtures), unpacked once; nothing when the folder is absent.
inline std::optional<std::vector<u8>> SharedBytes(const std::string& name) {
    static testsupport::TempDir dir;
    static std::map<std::string, std::vector<u8>> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return it->second;
    const auto xz = testsupport::SharedFixturePath(name + ".xz");
    if (!xz) return std::nullopt;
    return cache.emplace(name, FileBytes(testsupport::UnpackXz(*xz, dir.path()))).first->second;
}

// A volume device over bytes, recorded as an HFS+ volume as device enumeration would.
inline std::unique_ptr<MemoryDevice> VolumeDevice(std::vector<u8> bytes, u32 sectorSize = 512) {
    auto device = std::make_unique<MemoryDevice>(std::move(bytes), sectorSize, STORAGE_DEVICE_VOLUME);
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = FILE_SYSTEM_HFSPLUS;
    record->sectorSize = sectorSize;
    record->totalSectors = device->GetTotalSectors();
    std::snprintf(record->volumeName, sizeof record->volumeName, "%s", "hfs.img");
    device->SetPrivateData(CreateVolumeDeviceData(record));
    return device;
}

// A host-order catalog key (also an attribute key's name: fileID is left 0).
inline BTKey CatalogKey(u32 parent, const std::u16string& name) {
    BTKey key;
    key.parentID = parent;
    key.nameLength = u16(name.size());
    std::copy(name.begin(), name.end(), key.name.begin());
    return key;
}

// The FAT tests' recording tree builder, with paths below the root folder (ID 2) and the root itself
// left out.
class RecordingBuilder : public fattest::RecordingTreeBuilder {
public:
    std::vector<Listed> List() const {
        std::vector<Listed> out = RecordingTreeBuilder::List();
        std::erase_if(out, [](const Listed& l) { return l.node->GetCurrentNodeID() == 2; });
        return out;
    }
    std::map<std::string, std::vector<Listed>> ByPath() const {
        std::map<std::string, std::vector<Listed>> out;
        for (const Listed& l : List()) out[l.path].push_back(l);
        return out;
    }
};

struct FlsEntry {
    std::string type;  // "r/r", "d/d", "l/l"
    std::string path;
    i64 size = 0;
};

// A listing "type inode:\tpath\tsize" without The Sleuth Kit's virtual files ("$...").
inline std::vector<FlsEntry> ParseFls(const std::string& text) {
    std::vector<FlsEntry> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = testsupport::hfs::SplitTabs(line);
        if (f.size() < 2 || f[1].empty() || f[1][0] == '$') continue;
        out.push_back({f[0].substr(0, 3), f[1], f.size() > 2 ? std::stoll(f[2]) : 0});
    }
    return out;
}

inline std::vector<FlsEntry> FixtureFls(const std::string& name) {
    return ParseFls(testsupport::ReadFile(testsupport::FixturePath("hfsplus/" + name + ".fls.txt")));
}

// path -> sha256 from an icat listing ("sum  path").
inline std::map<std::string, std::string> ParseIcat(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 66) out[line.substr(66)] = line.substr(0, 64);
    }
    return out;
}

// A name as fls prints it: control characters become '^'.
inline std::string FlsShown(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20) c = '^';
    return out;
}

// The partition record a quick search would give for a volume of this device.
inline CSearchedPartitionInfo RecordFor(CHFSPlusVolume& volume, IStorageDevice& device) {
    CSearchedPartitionInfo record(device.GetSectorSize());
    record.m_partitionIndex = 0;
    record.m_fileSystemType = FILE_SYSTEM_HFSPLUS;
    record.m_sectorsPerCluster = volume.GetBlockSize() / device.GetSectorSize();
    record.SetTotalSectors(u64(device.GetTotalSectors()));
    return record;
}

// A node's content as a recovery reads it: compressed nodes through their reader, others through their
// runs. False when the reader refuses or delivers less than the node's size.
inline bool ReadNode(IStorageDevice& device, CSearchedPartitionInfo& record, IFileNode* node, std::string& out) {
    out.clear();
    auto* file = dynamic_cast<CFileNode*>(node);
    if (!file) return false;
    const i64 size = node->GetFileSize();
    if (size == 0) return true;
    std::unique_ptr<IFileReader, void (*)(IFileReader*)> reader(nullptr, [](IFileReader* r) {
        if (r) r->Release();
    });
    if (node->IsCompressed()) {
        reader.reset(node->CreateCompressFileReader(record.m_privateData));
    } else {
        auto* plain = new CFileReader;
        if (!plain->Open(&device, file, &record)) {
            plain->Release();
            return false;
        }
        reader.reset(plain);
    }
    if (!reader) return false;
    out.resize(size_t(size));
    i64 done = 0;
    while (done < size) {
        const u32 chunk = u32(std::min<i64>(size - done, 1 << 20));
        const u32 got = reader->ReadData(done, out.data() + done, chunk, nullptr);
        if (got == 0) return false;
        done += got;
    }
    return true;
}

}  // namespace hfstest
