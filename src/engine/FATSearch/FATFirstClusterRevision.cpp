// The first-cluster revision of deleted FAT32 entries: the high word of a deleted entry's first cluster
// is often cleared, so the cluster is looked for 64 Ki clusters apart by what its content starts with
// (a known file type, or a folder's dot entries). Also the switch that turns it off.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/Common/ByteReader.h"
#include "engine/Common/CatchExeception.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATFileProperties.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATLib/IniFile.h"
#include "engine/FATSearch/FATBuildChildren.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace {

constexpr u64 kWindow = 0x10000;
constexpr u64 kHighMask = ~u64{0xFFFF};
// Probe buffers are larger than a sector so an analyser that looks past the first sector reads zeros.
constexpr size_t kProbeBytes = 65536;

std::string ExtensionOf(const std::string& name) {
    if (name.size() <= 1) return {};
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    return name.substr(dot + 1);
}

}  // namespace

std::string fat::UIConfigPath() {
    return std::string(GetAppWorkPath()) + "/UIConfig.ini";
}

bool fat::ReadReviseSwitch(const std::string& iniPath) {
    CIniFile ini(iniPath);
    ini.Init();  // entries read before a fault still count
    std::string value;
    return !(ini.ReadItem("UserExperience", "bRevise", value) == 0 && value == "0");
}

// ---- first-cluster revision (FAT32) ---------------------------------------------------------------------

void CFATBuildChildren::ReverseDelFileFirstNum(const u8* e, u32& entryCluster, u32 folderStart, u64& nextCluster,
                                               CFATFileProperties* p, bool inLostFolder) {
    CTempFATDirEntry entry(e);
    u64 c = entryCluster;
    const u64 clusterBytes = u64{m_sectorSize} * m_ctx.sectorsPerCluster;
    const u64 size = entry.GetSize();
    const u64 k = clusterBytes == 0 ? 0 : size / clusterBytes + (size % clusterBytes != 0 ? 1 : 0);
    if (m_ctx.type == FILE_SYSTEM_FAT32) {
        const bool folder = entry.IsDirectory();
        const bool erased = entry.IsErased();
        bool found = false;
        if (erased && !folder && c < kWindow) {
            m_currentExt = ExtensionOf(p->m_name);
            if (folderStart == 0 || (nextCluster & kHighMask) != (u64{folderStart} & kHighMask) || inLostFolder) {
                const u64 a = (nextCluster & kHighMask) + c;
                u64 r = TryGetRealFirstNum(a, found, 10, false);
                if (!found) r = TryGetRealFirstNum(c, found, 35, false);
                if (!found) r = c;
                if (found) {
                    c = r;
                } else if (nextCluster >= 0x10001) {
                    c = r + (nextCluster & kHighMask);
                } else if (folderStart > 0x10000 && !inLostFolder) {
                    c = r + (u64{folderStart} & kHighMask);
                } else {
                    c = r;
                }
            } else {
                c = c + (u64{folderStart} & kHighMask);
                if (c < kWindow) {
                    const u64 r = TryGetRealFirstNum(c, found, 35, false);
                    if (found && (r & kHighMask) != (u64{folderStart} & kHighMask)) {
                        u64 claimed = r;
                        bInDelFileOrDIRMap(claimed, entryCluster, p, found, m_state->preReadFileCluNum, false);
                        c = r;
                    }
                }
            }
            entryCluster = static_cast<u32>(c);
        } else if (folder && !erased) {
            m_folderNames[c] = p->m_name;
        } else if (folder && erased) {
            u64& lastPlaced = m_state->preReadFileCluNum;
            if (bEffectiveDIRFDT(c)) {
                bInDelFileOrDIRMap(c, entryCluster, p, found, lastPlaced, true);
            } else {
                c = TryGetRealFirstNum(c, found, 50, true);
                if (found) {
                    bInDelFileOrDIRMap(c, entryCluster, p, found, lastPlaced, true);
                } else if (lastPlaced > 0x310000) {
                    u64 c2 = c + (lastPlaced & kHighMask);
                    c2 = TryGetRealFirstNum(c2, found, 50, true);
                    if (found) {
                        c = c2;
                        entryCluster = static_cast<u32>(c2);
                        lastPlaced = c2;
                    }
                }
            }
        }
        nextCluster = c + k;
        if (!folder && (found || c > 0x10000)) m_state->preReadFileCluNum = nextCluster;
        if (nextCluster < folderStart) nextCluster = folderStart;
    }
    p->m_firstCluster = c;
}

u64 CFATBuildChildren::TryGetRealFirstNum(u64 start, bool& found, int limit, bool isFolder) {
    found = false;
    try {
        for (int i = 0; i < limit - 1; ++i) {
            const u64 candidate = start + u64(i) * kWindow;
            const bool taken = isFolder ? bEffectiveDIRFDT(candidate) : !bReviseFAT32FileFirstClu(candidate, false);
            if (taken) {
                found = true;
                return candidate;
            }
        }
    } catch (...) {
        found = false;
    }
    return start;
}

void CFATBuildChildren::bInDelFileOrDIRMap(u64& cluster, u32& entryCluster, CFATFileProperties* p, bool& found,
                                           u64& lastEnd, bool isFolder) {
    std::map<u64, std::string>& names = isFolder ? m_folderNames : m_fileNames;
    bool valid = true;
    u64 candidate = cluster;
    for (int pass = 0; pass < 10; ++pass) {
        const auto it = names.find(candidate);
        if (it == names.end()) {
            if (valid) names[candidate] = p->m_name;
            break;
        }
        valid = false;
        if (it->second == p->m_name) break;
        candidate = TryGetRealFirstNum(candidate + kWindow, valid, isFolder ? 50 : 40, isFolder);
        if (valid) continue;
        if (candidate < lastEnd) {
            candidate = (lastEnd & kHighMask) + (candidate & 0xFFFF);
            continue;
        }
        break;
    }
    if (valid) {
        cluster = candidate;
        found = true;
        entryCluster = static_cast<u32>(candidate);
    }
}

u8* CFATBuildChildren::SectorBuffer() {
    if (m_sectorBuffer.empty()) {
        try {
            m_sectorBuffer.assign(std::max<size_t>(kProbeBytes, u64{m_sectorSize} + 1), 0);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    std::memset(m_sectorBuffer.data(), 0, m_sectorBuffer.size());
    return m_sectorBuffer.data();
}

bool CFATBuildChildren::IniRawDllValue() {
    if (m_analysersLoaded) return true;
    CRawFileAnalyserListSingle* tables = CRawFileAnalyserListSingle::CreateInstance();
    if (m_analyserList.empty()) m_analyserList = tables->GetAnalyserList(1);
    if (m_analyserMap.empty()) m_analyserMap = tables->GetAnalyserMap(1);
    if (m_analyserMultimap.empty()) m_analyserMultimap = tables->GetAnalyserMultimap(1);
    m_analysersLoaded = true;
    return true;
}

bool CFATBuildChildren::bReviseFAT32FileFirstClu(u64 cluster, bool flag) {
    IniRawDllValue();
    if (flag && cluster > kWindow) return false;
    if (m_quickScan) {
        if (m_fileSectorMap == nullptr || m_fileSectorMap->empty() || m_currentExt.empty()) return true;
        const auto it = m_fileSectorMap->find(static_cast<i64>(ConvertClusterNumToSector(cluster)));
        if (it == m_fileSectorMap->end()) return true;
        return strcasecmp(RawFileExtension(it->second).c_str(), m_currentExt.c_str()) != 0;
    }
    u8* sector = SectorBuffer();
    if (sector == nullptr) return false;
    if (m_ctx.device == nullptr) return true;
    const u64 s = ConvertClusterNumToSector(cluster);
    if (s == 0 || m_ctx.totalSectors < 10 || s > m_ctx.volumeStart + m_ctx.totalSectors - 10) return true;
    if (s >= static_cast<u64>(m_ctx.device->GetTotalSectors())) return true;
    try {
        if (m_ctx.device->ReadSector(sector, static_cast<i64>(s), 1) == 0) return true;
    } catch (...) {
        return true;
    }
    try {
        // The keys of the signature tables: the first four and the first two bytes, little-endian.
        const ByteReader head(sector, m_sectorSize);
        if (bInAnalyzeMap(head.Le32(0).value_or(0))) return false;
        if (bInAnalyzeMultimap(head.Le16(0).value_or(0), sector)) return false;
        if (bInAnalyzeList(sector)) return false;
        if (bWindowsPEFiles(sector, u64{m_sectorSize} + 1)) return false;
    } catch (...) {
        return false;
    }
    return true;
}

bool CFATBuildChildren::bEffectiveDIRFDT(u64 cluster) {
    u8* sector = SectorBuffer();
    if (sector == nullptr || m_ctx.device == nullptr) return false;
    const u64 s = ConvertClusterNumToSector(cluster);
    if (s == 0 || m_ctx.totalSectors < 10 || s > m_ctx.volumeStart + m_ctx.totalSectors - 10) return false;
    if (s >= static_cast<u64>(m_ctx.device->GetTotalSectors())) return false;
    if (m_ctx.device->ReadSector(sector, static_cast<i64>(s), 1) == 0) return false;
    return IsCurDirFileName(sector) && IsParentDirFileName(sector + fat_dir_entry_layout::kSize);
}

bool CFATBuildChildren::bInAnalyzeMap(u32 key) const {
    return m_analyserMap.count(key) != 0;
}

bool CFATBuildChildren::bInAnalyzeMultimap(u16 key, u8* sector) const {
    const auto range = m_analyserMultimap.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
        CRawFileInfo info;
        if (it->second != nullptr && it->second->AnalyseBuffer(sector, info) != 0) return true;
    }
    return false;
}

bool CFATBuildChildren::bInAnalyzeList(u8* sector) const {
    for (IRawFileAnalyser* analyser : m_analyserList) {
        CRawFileInfo info;
        if (analyser != nullptr && analyser->AnalyseBuffer(sector, info) != 0) return true;
    }
    return false;
}

bool CFATBuildChildren::bWindowsPEFiles(const u8* sector, u64 length) {
    // "MZ", the offset of the PE header at 60, and "PE" there (with room for the byte after it).
    const ByteReader bytes(sector, static_cast<size_t>(length));
    if (length < 64 || !bytes.Equals(0, "MZ")) return false;
    const u64 e = bytes.Le32(60).value_or(0);
    if (e + 3 > length) return false;
    return bytes.Equals(static_cast<size_t>(e), "PE");
}
