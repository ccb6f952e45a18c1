#include "engine/NTFSSearch/NTFSQuickSearch.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/ResultCode.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/NTFSFilePropertiesBuilder.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSFindings.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

using namespace ntfs;

namespace {

constexpr size_t kMFTRecordBuffer = 64 * 1024;

void Send(IProgress* progress, u32 status, u64 total, u64 current, u64 code = 0) {
    if (!progress) return;
    _PROGRESS_INFO record = MakeProgressInfo(status, total, current, i64(code));
    progress->UpdateProgress(&record);
}

// Drops the entries naming record 0 (the master file table's own record).
void RemoveMainMFTFileRecordInfofromList(CExtendFileRecordInfoList& list) {
    std::erase_if(list, [](const CAttributeListExtendFileRecordInfo& e) { return e.number == 0; });
}

}  // namespace

CNTFSQuickSearch::CNTFSQuickSearch() = default;

CNTFSQuickSearch::~CNTFSQuickSearch() = default;

int CNTFSQuickSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    return CopySearchedPartitionInfo(m_records, out, capacity);
}

u64 CNTFSQuickSearch::Finish(u64 code) {
    Send(m_progress, PROGRESS_FINISHED, 100, 100, result::IsFailure(code) ? code : 0);
    return code;
}

bool CNTFSQuickSearch::ReadDBR(IStorageDevice* device, i64 sector, i64 totalSectors, CNTFSDBR& dbr) {
    if (!device || totalSectors <= 1 || sector < 0 || sector > totalSectors) return false;
    std::vector<u8> buffer(CNTFSDBR::kMaxSectorSize, 0);
    if (!device->ReadSector(buffer.data(), sector, 1)) return false;
    return dbr.InitFromBuffer(buffer.data());
}

u64 CNTFSQuickSearch::QuickSearchFiles(IStorageDevice* device, IProgress* progress) {
    m_progress = progress;
    if (!device || !progress) return Finish(ntfsquick::kBadArgument);
    m_device = device;
    m_sectorSize = device->GetSectorSize();
    m_partition = std::make_unique<CSearchedPartitionInfo>(m_sectorSize);
    m_partition->m_fileSystemType = FILE_SYSTEM_NTFS;
    m_partition->m_partitionStartSector = 0;
    m_partition->m_cluster0Sector = 0;
    m_partition->m_sectorsPerCluster = 1;
    m_partition->SetTotalSectors(u64(std::max<i64>(device->GetTotalSectors(), 0)));
    m_records = {m_partition.get()};

    // Boot buffers are 4096 bytes: larger sectors are refused before anything is read.
    if (m_sectorSize < 512 || m_sectorSize > CNTFSDBR::kMaxSectorSize || m_sectorSize % 512 != 0)
        return Finish(ntfsquick::kNotNTFS);
    if (!ReadDBR(device, 0, device->GetTotalSectors() - 1, m_dbr)) return Finish(ntfsquick::kNotNTFS);
    m_recordSize = m_dbr.GetFileRecordSizeByByte();
    if (m_recordSize == 0 || m_dbr.GetSectorsperCluster() == 0) return Finish(ntfsquick::kNotNTFS);
    m_sectorsPerCluster = m_dbr.GetSectorsperCluster();
    m_partition->m_sectorsPerCluster = m_sectorsPerCluster;

    CNTFSDataRunList runs;
    if (!GetMFTInfo(runs)) return Finish(ntfsquick::kNoMFTRecord);
    if (m_builder) m_builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    if (m_log.Init(device, &runs, m_sectorsPerCluster)) m_log.Analyzer();
    m_recordStates.clear();
    const u64 code = BuildFileNodeFromMFTFileRecord(runs);
    m_recordStates = {};
    m_log.Reset();
    return code;
}

void CNTFSQuickSearch::BoundRunsByVolume(CNTFSDataRunList& runs) const {
    const i64 volumeClusters = m_device->GetTotalSectors() / std::max<i64>(m_sectorsPerCluster, 1);
    CNTFSDataRunList bounded;
    i64 kept = 0;
    for (CDataRun run : runs.Runs()) {
        if (run.lcn < 0 || run.lcn >= volumeClusters || kept >= volumeClusters) break;
        run.length = std::min(run.length, volumeClusters - run.lcn);
        run.length = std::min(run.length, volumeClusters - kept);
        kept += run.length;
        bounded.AddRun(run);
    }
    runs = bounded;
}

bool CNTFSQuickSearch::GetMFTInfo(CNTFSDataRunList& runs) {
    const i64 mft = GetClusterStartSector(m_dbr.GetMFTStartCluster(), 0, m_sectorsPerCluster);
    const u32 count = std::max<u32>(1, m_recordSize / m_sectorSize);
    if (mft >= 0 && ReadMFTInfoFromFileRecord(mft, count, runs)) return true;
    // The mirror's record is read as size / 512 sectors.
    const i64 mirror = GetClusterStartSector(m_dbr.GetMFTMirrorStartCluster(), 0, m_sectorsPerCluster);
    runs.ClearDataRunList();
    return mirror >= 0 && ReadMFTInfoFromFileRecord(mirror, std::max<u32>(1, m_recordSize / 512), runs);
}

bool CNTFSQuickSearch::ReadMFTInfoFromFileRecord(i64 sector, u32 count, CNTFSDataRunList& runs) {
    if (u64(count) * m_sectorSize > kMFTRecordBuffer) return false;
    if (sector + i64(count) > m_device->GetTotalSectors()) return false;
    std::vector<u8> buffer(kMFTRecordBuffer, 0);
    if (!m_device->ReadSector(buffer.data(), sector, count)) return false;
    const int size = int(std::max<u32>(count * m_sectorSize, record::kHandledSize));
    // The attribute list is read from a protected copy; the wrapped buffer loses its protection.
    std::vector<u8> copy(buffer.begin(), buffer.begin() + size);
    CNTFSFileRecord record(buffer.data(), size, 0);
    if (!record.IsValid() || !CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record, FILE_NAME_MFT)) return false;
    if (!CNTFSFileRecord::HasAttributeList(record.GetBuffer(), record.GetSize())) {
        // The runs alone: the cluster size is the boot sector's (one guessed from the sizes in $DATA
        // would not fit clusters above 64 KiB).
        runs.ClearDataRunList();
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, 0, nullptr);
        BoundRunsByVolume(runs);
        return !runs.IsEmpty();
    }
    CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, 0, nullptr);
    auto list = GetExtendFileRecordInfoList(copy.data(), u32(size), 0, m_sectorsPerCluster, *m_device);
    const u8 spr = u8(std::max<u32>(1, m_recordSize / m_sectorSize));
    if (list) {
        RemoveMainMFTFileRecordInfofromList(*list);
        std::vector<u8> ext(4096, 0);
        for (const CAttributeListExtendFileRecordInfo& e : *list) {
            const i64 at = GetFileRecordStartSectorfromMFTNumber(e.number, m_sectorsPerCluster, 0, &runs, spr);
            const i64 sectors = std::max<i64>(1, 4096 / m_sectorSize);
            if (at < 0 || at + sectors > m_device->GetTotalSectors()) continue;
            std::fill(ext.begin(), ext.end(), 0);
            if (!m_device->ReadSector(ext.data(), at, sectors)) continue;
            const int length = int(std::min<u32>(m_sectorSize * spr, 4096));
            CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(ext.data(), std::max(length, 1024), runs, 0, nullptr);
        }
    }
    runs.Sort();
    BoundRunsByVolume(runs);
    return !runs.IsEmpty();
}

u64 CNTFSQuickSearch::BuildFileNodeFromMFTFileRecord(const CNTFSDataRunList& runs) {
    const u32 s = m_sectorSize;
    std::vector<u8> buffer(size_t(ntfsquick::kBatchSectors) * s, 0);
    std::vector<i64> numbers(ntfsquick::kBatchSectors, -1);
    u64 total = 0;
    for (const CDataRun& run : runs.Runs()) total += u64(run.length) * m_sectorsPerCluster;
    Send(m_progress, PROGRESS_RUNNING, total, 0);
    u64 done = 0;       // table sectors processed
    u32 filled = 0;     // sectors in the buffer
    bool stopped = false;
    auto flush = [&] {
        if (filled == 0) return;
        BuildFileNodeFromBuffer(buffer.data(), filled, done, runs, numbers);
        done += filled;
        filled = 0;
        std::fill(numbers.begin(), numbers.end(), -1);
        Send(m_progress, PROGRESS_RUNNING, total, done);
    };
    for (const CDataRun& run : runs.Runs()) {
        if (m_progress && !m_progress->Continued()) {
            stopped = true;
            break;
        }
        const i64 first = GetClusterStartSector(run.lcn, 0, m_sectorsPerCluster);
        const i64 sectors = run.length * m_sectorsPerCluster;
        for (i64 offset = 0; offset < sectors && !stopped;) {
            if (m_progress && !m_progress->Continued()) {
                stopped = true;
                break;
            }
            const u32 piece = u32(std::min<i64>(ntfsquick::kBatchSectors - filled, sectors - offset));
            u8* at = buffer.data() + size_t(filled) * s;
            if (first >= 0 && m_device->ReadSector(at, first + offset, piece)) {
                for (u32 i = 0; i < piece; ++i) numbers[filled + i] = first + offset + i;
            } else {
                // A failed read is not analysed: its sectors stay zeros, which no record passes.
                std::memset(at, 0, size_t(piece) * s);
            }
            filled += piece;
            offset += piece;
            if (filled == ntfsquick::kBatchSectors) flush();
        }
        if (stopped) break;
    }
    if (!stopped && (!m_progress || m_progress->Continued())) flush();
    if (m_builder) {
        m_builder->SetPartitonDevice(m_partition.get(), m_device);
        m_builder->FlashBuild(SEARCHER_NTFS);
    }
    Send(m_progress, PROGRESS_FINISHED, total, total);
    return 0;
}

void CNTFSQuickSearch::BuildFileNodeFromBuffer(u8* buffer, u32 sectorCount, u64 first, const CNTFSDataRunList& runs,
                                               const std::vector<i64>& numbers) {
    const u32 s = m_sectorSize;
    const u64 bytes = u64(sectorCount) * s;
    const u64 firstByte = first * s;
    const u8 spr = u8(std::max<u32>(1, m_recordSize / s));
    // Records are taken at record-size steps, whatever the sector size, starting at a record boundary.
    u64 at = (m_recordSize - firstByte % m_recordSize) % m_recordSize;
    for (; at < bytes; at += m_recordSize) {
        const u32 length = u32(std::min<u64>(m_recordSize, bytes - at));
        if (length < record::kHandledSize) break;
        const i64 sector = numbers[size_t(at / s)];
        if (sector < 0) continue;
        const i64 number = i64((firstByte + at) / m_recordSize);
        u8* rec = buffer + at;
        // Validated and unprotected once; every reader below works on the wrapped record.
        CNTFSFileRecord record(rec, int(length), 0);
        if (!record.IsValid()) continue;
        // Every valid record's sequence and use, for the references of the records after it.
        if (number >= 0 && u64(number) < kMaxRecordStates) {
            if (m_recordStates.size() <= size_t(number)) m_recordStates.resize(size_t(number) + 1, 0);
            m_recordStates[size_t(number)] = kSeen | (record.IsinUse() ? kStateInUse : 0) |
                                             record.View().Le16(record::kSequence).value_or(0);
        }
        if (record.IsExtendFileRecord()) continue;
        if (CIsMetaFileRecord::IsMetaFileRecord(number) && CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record))
            continue;

        CCommonFileRecordInfo info;
        if (!info.InitFromBuffer(record, sector)) continue;
        info.SetMFTFileRecordNumber(number);
        std::unique_ptr<CExtendFileRecordInfoList> extensions;
        if (CNTFSFileRecord::HasAttributeList(record.GetBuffer(), int(length)))
            extensions = InitExtendFileRecord(record.GetBuffer(), length, sector, m_sectorsPerCluster, 0, *m_device,
                                              &runs, spr);
        CNTFSMultiFileRecord multi(record, sector, m_device, extensions.get());
        i64 parent = -1;
        CNTFSFileProperties* properties = CNTFSFilePropertiesBuilder::BuildFileProperties(
            sector, multi, i64(m_sectorsPerCluster) * s, &parent);
        if (info.GetFileRecordNumberofParentDirectory() == -1 && parent != -1) info.SetFileRecordNumberofParentDirectory(parent);
        // A reference to a record that now holds something else names no parent: the file is lost.
        if (!ParentReferenceHolds(info, runs)) info.SetFileRecordNumberofParentDirectory(-1);
        if (properties) {
            const bool folder = record.IsFolder();
            if (!folder && properties->GetFileSize() == 0 && (properties->GetState() & 1) && m_log.IsDone())
                m_log.ReplaceFileRecordInfo(multi.GetMainRecord().data(), *properties, number, extensions.get());
            CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(properties,
                                                                                                  m_sectorsPerCluster);
            properties->SetExtendFileRecordInfoList(std::move(extensions));
        }
        CreateFileNode(number, info.GetFileRecordNumberofParentDirectory(), properties);
    }
}

bool CNTFSQuickSearch::ParentReferenceHolds(const CCommonFileRecordInfo& info, const CNTFSDataRunList& runs) {
    const i64 parent = info.GetFileRecordNumberofParentDirectory();
    if (parent < 0 || info.GetParentSequence() == 0) return true;
    u32 state = size_t(parent) < m_recordStates.size() ? m_recordStates[size_t(parent)] : 0;
    if (!(state & kSeen)) {
        // Not read yet (a folder numbered after its file): its header, through the table's runs.
        const u8 perRecord = u8(std::max<u32>(1, m_recordSize / m_sectorSize));
        const i64 sector = GetFileRecordStartSectorfromMFTNumber(parent, m_sectorsPerCluster, 0, &runs, perRecord);
        std::vector<u8> bytes(m_sectorSize, 0);
        if (sector < 0 || sector >= m_device->GetTotalSectors() || !m_device->ReadSector(bytes.data(), sector, 1))
            return true;
        const ByteReader header(bytes.data(), bytes.size());
        if (!header.Equals(record::kMagic, "FILE")) return true;
        state = kSeen | ((header.Le16(record::kFlags).value_or(0) & record::kInUse) ? kStateInUse : 0) |
                header.Le16(record::kSequence).value_or(0);
    }
    return CCommonFileRecordInfo::ReferenceHolds(info.GetParentSequence(), u16(state & 0xFFFF), (state & kStateInUse) != 0);
}

int CNTFSQuickSearch::CreateFileNode(i64 number, i64 parent, CNTFSFileProperties* properties) {
    if (!properties) return 1;
    auto* node = new (std::nothrow) CNTFSFileNode();
    if (!node) {
        delete properties;
        return 0;
    }
    node->SetFileProperties(properties);
    node->SetCurrentNodeID(number);
    node->SetParentNodeID(parent);
    const int taken = m_builder ? m_builder->AddNode(node, SEARCHER_NTFS) : 0;
    if (taken == 0) node->Release();
    return taken;
}

IQuickFileSystemSearchController* CreateNTFSQuickSearcher() { return new (std::nothrow) CNTFSQuickSearch(); }
