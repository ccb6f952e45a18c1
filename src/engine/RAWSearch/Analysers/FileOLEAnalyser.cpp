#include "engine/RAWSearch/Analysers/FileOLEAnalyser.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/IconvText.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace ole_layout;

namespace {

// A directory read from the device that cannot be read is tolerated for files up to this size (they
// are then typed MOF).
constexpr u64 kMaxSizeWithoutDirectory = 0xA00000;
// A property set larger than this is not looked at past it.
constexpr i64 kSummaryBytes = 4096;

// The entries of the first directory bytes, compared by name.
class Directory {
public:
    Directory(const unsigned char* bytes, int length)
        : m_bytes(bytes, bytes != nullptr && length > 0 ? static_cast<size_t>(length) : 0) {}

    // True when entry k exists and its name, with its terminating zero, is `name`.
    bool Is(u32 k, const char* name) const {
        const std::optional<ByteReader> entry = m_bytes.Sub(u64{k} * kEntrySize, kEntrySize);
        if (!entry) return false;
        const size_t n = strlen(name);
        if ((n + 1) * 2 > kEntryNameBytes) return false;
        for (size_t i = 0; i < n; ++i) {
            if (entry->Le16(2 * i) != static_cast<unsigned char>(name[i])) return false;
        }
        return entry->Le16(2 * n) == 0;
    }
    bool AnyOf(u32 first, u32 last, const char* name) const {
        for (u32 k = first; k <= last; ++k) {
            if (Is(k, name)) return true;
        }
        return false;
    }
    bool RootClassIdIsZero() const {
        const std::optional<ByteReader> id = m_bytes.Sub(kEntryClassId, kClassIdSize);
        if (!id) return true;
        return std::all_of(id->data(), id->data() + kClassIdSize, [](u8 b) { return b == 0; });
    }

private:
    ByteReader m_bytes;
};

}  // namespace

u32 FileOLEAnalyser::OleSectorSize(const ByteReader& header) {
    return header.Le16(kMajorVersion) == kLargeVersion && header.Le16(kSectorShift) == kLargeShift ? kLargeSector
                                                                                                   : kSmallSector;
}

int FileOLEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    if (ByteReader(sector, kHeaderSize).Le32(kSignatureSecondWord) != kSignatureSecondValue) return 0;
    info.m_type = RAW_TYPE_OLE;
    return 1;
}

CRawFileInfo* FileOLEAnalyser::CreateRawFileInfo() { return new OleRawFileInfo(); }

void FileOLEAnalyser::CheckSectDirData(const unsigned char* directory, int length, CRawFileInfo* info) {
    if (info == nullptr) return;
    const Directory d(directory, std::min<int>(length, kClassifiedBytes));
    RAW_FILE_TYPE type = RAW_TYPE_MOF;
    // Each later rule that matches overrides the earlier ones.
    if (d.AnyOf(0, 7, "WordDocument") || d.AnyOf(0, 7, "ObjectPool")) type = RAW_TYPE_DOC;
    if (d.AnyOf(1, 2, "Book") || d.AnyOf(1, 2, "Workbook")) type = RAW_TYPE_XLS;
    // "PowerPoint Document" is looked for among all eight entries: writers other than the one the
    // rule was made from put it after their other streams, and such files would not be told apart.
    if (d.Is(1, "PP40") || d.Is(1, "Pictures") || d.AnyOf(1, 7, "PowerPoint Document")) type = RAW_TYPE_PPT;
    if (d.AnyOf(1, 2, "Scene")) type = RAW_TYPE_MAX;
    if (d.Is(1, "VisioDocument")) type = RAW_TYPE_VSD;
    if (d.Is(1, "PerfectOffice_MAIN") && d.Is(2, "PerfectOffice_OBJECTS")) {
        if (d.Is(3, "\x05SummaryInformation")) {
            type = RAW_TYPE_SHW;
        } else {
            type = d.RootClassIdIsZero() ? RAW_FILE_TYPE{RAW_TYPE_WPG} : RAW_FILE_TYPE{RAW_TYPE_WPD};
        }
    }
    if (d.Is(1, "RSeStorage") && (d.Is(2, "RSeEmbeddings") || d.Is(3, "RSeEmbeddings"))) type = RAW_TYPE_IPT;
    if (d.Is(1, "Objects") && d.Is(2, "Quill") && (d.Is(3, "Escher") || d.Is(3, "QuillSub"))) type = RAW_TYPE_PUB;
    if (d.Is(1, "NativeContent_MAIN")) type = RAW_TYPE_QPW;
    if (d.Is(1, "properties")) type = RAW_TYPE_AAF;
    if (d.Is(1, "\x01" "CompObj") &&
        ((d.Is(2, "   19") && d.Is(3, "   29")) || (d.Is(2, "   112") && d.Is(3, "   212")))) {
        type = RAW_TYPE_MPP;
    }
    if ((d.Is(1, "PropData") && d.Is(2, "Forms") && d.Is(3, "Reports")) ||
        (d.Is(1, "VBA") && d.Is(2, "VBAProject") && d.Is(3, "VBA"))) {
        type = RAW_TYPE_ADP;
    }
    info->m_type = type;
}

bool FileOLEAnalyser::Simulate512ReadSector(void* buffer, RawFileBuffer& file, u64 unit, u32 oleSectorSize,
                                            u64 count) {
    return file.CopyOut(unit * oleSectorSize, buffer, count * 512);
}

bool FileOLEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    info.m_size = 0;
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char headerBytes[kHeaderSize];
    if (!file.CopyOut(0, headerBytes, sizeof(headerBytes))) return false;
    const ByteReader header(headerBytes, sizeof(headerBytes));
    const u32 s = OleSectorSize(header);
    const u32 deviceSector = file.GetSectorSize();
    m_oleSectorScale = s == kLargeSector && deviceSector != 0 && deviceSector < kLargeSector ? kLargeSector / deviceSector : 1;
    const u32 perFatSector = s / 4;

    u64 fatCount = 0;
    u32 lastFat = 0;
    for (u32 k = 0; k < kHeaderDifatCount; ++k) {
        const u32 entry = *header.Le32(kHeaderDifat + 4 * k);
        if (entry == kFreeSector) continue;
        ++fatCount;
        lastFat = entry;
    }
    // The DIFAT chain goes forward only (so it cannot loop) and is no longer than the DIFAT sectors that
    // 32-bit sector numbers could need.
    const u64 maxDifatSectors = (u64{1} << 32) / perFatSector / (perFatSector - 1) + 1;
    std::vector<unsigned char> sectorBytes(s);
    u32 difat = *header.Le32(kFirstDifatSector);
    for (u64 steps = 0; difat != kEndOfChain && difat != kFreeSector && steps < maxDifatSectors; ++steps) {
        if (!Simulate512ReadSector(sectorBytes.data(), file, u64{difat} + 1, s, s / 512)) return false;
        const ByteReader entries(sectorBytes.data(), s);
        for (u32 k = 0; k + 1 < perFatSector; ++k) {
            const u32 entry = *entries.Le32(4 * k);
            if (entry == kFreeSector) continue;
            ++fatCount;
            lastFat = entry;
        }
        const u32 next = *entries.Le32(4 * (perFatSector - 1));
        if (next == kEndOfChain || next <= difat || next == kFreeSector) break;
        difat = next;
    }
    if (fatCount == 0) return false;

    if (!Simulate512ReadSector(sectorBytes.data(), file, u64{lastFat} + 1, s, s / 512)) return false;
    const ByteReader fat(sectorBytes.data(), s);
    u32 used = 0;
    for (u32 k = perFatSector; k-- > 0;) {
        if (*fat.Le32(4 * k) != kFreeSector) {
            used = k + 1;
            break;
        }
    }
    const u64 size = (1 + (fatCount - 1) * perFatSector + used) * u64{s};

    unsigned char directory[kClassifiedBytes];
    const u32 directorySector = *header.Le32(kFirstDirectorySector);
    if (Simulate512ReadSector(directory, file, u64{directorySector} + 1, s, kClassifiedBytes / 512)) {
        CheckSectDirData(directory, sizeof(directory), &info);
    } else {
        if (size > kMaxSizeWithoutDirectory) return false;
        info.m_type = RAW_TYPE_MOF;
    }
    info.m_size = size;
    return true;
}

// The guessing record.

FileOLEAnalyser::OleRawFileInfo::Place FileOLEAnalyser::OleRawFileInfo::Where(const StreamWindow& window,
                                                                               i64 offset, u64 length) {
    // Met when the search reaches the sector of its last byte (the bytes before lie in its buffer).
    if (offset + static_cast<i64>(length) > window.SectorEnd()) return Place::Later;
    return window.Holds(offset, length) ? Place::Held : Place::Passed;
}

void FileOLEAnalyser::OleRawFileInfo::CheckStorageHeader(const ByteReader& header) {
    m_oleSectorSize = OleSectorSize(header);
    for (u32 k = 0; k < kHeaderDifatCount; ++k) {
        const std::optional<u32> entry = header.Le32(kHeaderDifat + 4 * k);
        if (!entry || *entry == kFreeSector) continue;
        ++m_fatCount;
        m_lastFat = *entry;
    }
    const u32 difat = header.Le32(kFirstDifatSector).value_or(kEndOfChain);
    m_fatListComplete = difat == kEndOfChain || difat == kFreeSector;
    m_nextDifat = difat;
    m_directory = header.Le32(kFirstDirectorySector).value_or(0);
}

bool FileOLEAnalyser::OleRawFileInfo::CheckSectDifStart(const ByteReader& difat) {
    const u32 perSector = m_oleSectorSize / 4;
    for (u32 k = 0; k + 1 < perSector; ++k) {
        const u32 entry = difat.Le32(4 * k).value_or(kFreeSector);
        if (entry >= kEndOfChain) continue;
        ++m_fatCount;
        m_lastFat = entry;
    }
    ++m_difatSectors;
    const u32 next = difat.Le32(4 * (perSector - 1)).value_or(kEndOfChain);
    if (next >= kEndOfChain) {
        m_fatListComplete = true;
        return true;
    }
    if (next <= m_nextDifat) return false;
    m_nextDifat = next;
    return true;
}

void FileOLEAnalyser::OleRawFileInfo::LookForSummary(const StreamWindow& window) {
    // A property set stream starts a sector, or a 64-byte mini sector when it is short.
    const ByteReader sector = window.Sector();
    for (u64 at = 0; at + kSetHeaderSize <= sector.size(); at += kMiniSectorSize) {
        if (sector.Le32(at) != kPropertySetStart) continue;
        const ByteReader stream = window.From(window.SectorStart() + static_cast<i64>(at));
        const int length = static_cast<int>(std::min<u64>(stream.size(), kSummaryBytes));
        if (m_summary.GetFileInformation(stream.data(), m_properties, length)) {
            m_summaryFound = true;
            return;
        }
    }
}

int FileOLEAnalyser::OleRawFileInfo::GiveUp() {
    m_finished = true;
    m_size = 0;
    return RAW_SIZE_FINISHED;
}

int FileOLEAnalyser::OleRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                                  SearchContext& ctx) {
    if (m_finished) return RAW_SIZE_FINISHED;
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, sectorSize, sectorNumber, m_startSector, ctx);
    if (window.SectorStart() == 0) {
        CheckStorageHeader(window.Sector());
        if (m_fatCount == 0) return GiveUp();
    }
    if (!m_summaryFound && !(m_sizeKnown && static_cast<u64>(window.SectorStart()) >= m_size)) LookForSummary(window);

    // The DIFAT chain, sector by sector as the search meets them.
    while (!m_fatListComplete) {
        const i64 at = static_cast<i64>(SectorOffset(m_nextDifat));
        const Place place = Where(window, at, m_oleSectorSize);
        if (place == Place::Later) break;
        if (place == Place::Passed) return GiveUp();
        if (!CheckSectDifStart(*window.Bytes(at, m_oleSectorSize))) return GiveUp();
    }
    // The last FAT sector gives the length: the FAT sectors before it are full, it covers what it uses.
    if (m_fatListComplete && !m_sizeKnown) {
        const i64 at = static_cast<i64>(SectorOffset(m_lastFat));
        const Place place = Where(window, at, m_oleSectorSize);
        if (place == Place::Passed) return GiveUp();
        if (place == Place::Held) {
            const ByteReader fat = *window.Bytes(at, m_oleSectorSize);
            const u32 perSector = m_oleSectorSize / 4;
            u32 used = 0;
            for (u32 k = perSector; k-- > 0;) {
                if (fat.Le32(4 * k) != kFreeSector) {
                    used = k + 1;
                    break;
                }
            }
            m_size = (1 + (m_fatCount - 1) * perSector + used) * u64{m_oleSectorSize};
            m_sizeKnown = true;
        }
    }
    if (!m_directoryHandled) {
        const i64 at = static_cast<i64>(SectorOffset(m_directory));
        const Place place = Where(window, at, kClassifiedBytes);
        if (place == Place::Held) {
            FileOLEAnalyser::CheckSectDirData(window.Bytes(at, kClassifiedBytes)->data(), kClassifiedBytes, this);
            m_directoryHandled = true;
        } else if (place == Place::Passed || (m_sizeKnown && static_cast<u64>(at) >= m_size)) {
            // A directory outside the file: the device decides.
            return GiveUp();
        }
    }
    if (!m_sizeKnown || !m_directoryHandled) return RAW_SIZE_CONTINUE;

    m_finished = true;
    SetRawFileName(
        SectorSpanName(m_startSector, m_startSector + static_cast<long long>(m_size / static_cast<u64>(sectorSize)), " "));
    if (m_summaryFound) SetFileName(m_properties);
    return RAW_SIZE_FINISHED;
}

void FileOLEAnalyser::OleRawFileInfo::SetFileName(const FileProperty& p) {
    const std::string& time = !p.modified.empty() ? p.modified : p.created;
    if (!time.empty()) {
        const std::string& first = !p.title.empty() ? p.title : !p.lastAuthor.empty() ? p.lastAuthor : p.author;
        SetRawFileName(first.empty() ? time + " " : first + "_" + time + " ");
    } else if (!p.author.empty()) {
        SetRawFileName(p.author + " ");
    } else if (!p.lastAuthor.empty()) {
        SetRawFileName(p.lastAuthor + " ");
    } else if (!p.title.empty()) {
        SetRawFileName(p.title + " ");
    }
    if (!p.created.empty()) SetRawFileTime(p.created);
    if (!p.lastAuthor.empty()) {
        SetFileTag(p.lastAuthor);
    } else if (!p.author.empty()) {
        SetFileTag(p.author);
    } else if (!p.created.empty() || !p.title.empty() || !p.modified.empty()) {
        SetFileTag("unKnown");
    }
}

void FileOLEAnalyser::OleRawFileInfo::SetFileTag(const std::string& text) {
    if (m_type != RAW_TYPE_DOC && m_type != RAW_TYPE_PPT && m_type != RAW_TYPE_XLS) return;
    SetRawFileTagAndValue(RAW_TAG_OFFICE, text);
    if (!GetRawFileName().empty()) {
        SetRawFileName(CutUtf8(text + "_" + GetRawFileName(), 2047));
    }
}

IRawFileAnalyser* CreateFileOLEAnalyser() { return new FileOLEAnalyser(); }
