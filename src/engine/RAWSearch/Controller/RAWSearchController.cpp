#include "engine/RAWSearch/Controller/RAWSearchController.h"

#include <cassert>
#include <cstdio>
#include <cstring>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/RAWSearch/Core/NotifyCenter.h"
#include "engine/RAWSearch/Core/RawAnalyserLookup.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Tree/RAWFileManager.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/Utility/TBitmap.h"

namespace {

// Sectors between two questions to the progress sink: a pause or stop is noticed within this many.
constexpr i64 kContinueStride = 64;

// True when the four bytes at p are zero (one word load: no integer is read, so no byte order).
bool ZeroWord(const unsigned char* p) {
    u32 v;
    memcpy(&v, p, 4);
    return v == 0;
}

// Zero bytes at the sector's end in whole 32-bit words, at most 32: most sectors end in data (one
// load), a zero tail of 32 bytes is told by four.
u32 TrailingZeroBytes(const unsigned char* sector, u32 sectorSize) {
    const unsigned char* end = sector + sectorSize;
    if (!ZeroWord(end - 4)) return 0;
    u64 tail[4];
    memcpy(tail, end - 32, sizeof(tail));
    if ((tail[0] | tail[1] | tail[2] | tail[3]) == 0) return 32;
    u32 zero = 4;
    while (zero < 32 && ZeroWord(end - zero - 4)) zero += 4;
    return zero;
}

// 64 bytes at a time, so that a sector with data stops at its first non-zero block.
bool AllZero(const unsigned char* sector, u32 sectorSize) {
    for (u32 i = 0; i + 64 <= sectorSize; i += 64) {
        u64 w[8];
        memcpy(w, sector + i, sizeof(w));
        if ((w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) != 0) return false;
    }
    return true;
}

// A list this short is asked directly at sectors that start with a zero word: asking it costs less
// than proving the sector all zero (its analysers refuse such sectors in any case).
constexpr size_t kShortList = 2;

}  // namespace

CRAWSearchController::CRAWSearchController() = default;

CRAWSearchController::~CRAWSearchController() {
    ClearRecords();
    for (auto& entry : m_managers) delete entry.second;
    m_managers.clear();
    m_lookBack.Close();
}

void CRAWSearchController::ClearRecords() {
    for (CRawFileInfo* r : m_found) delete r;
    for (CRawFileInfo* r : m_pending) delete r;
    m_found.clear();
    m_pending.clear();
    m_guessCount = 0;  // guessing records live in the found list
}

int CRAWSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    if (out == nullptr || capacity < 1) return 1;
    u32 sectorSize = m_device != nullptr ? m_device->GetSectorSize() : 512;
    if (sectorSize == 0) sectorSize = 512;
    auto* record = new CSearchedPartitionInfo(sectorSize);
    record->m_sectorsPerCluster = 1;
    record->m_cluster0Sector = 0;
    record->m_partitionStartSector = 0;
    record->m_weight = 1.0;
    if (m_device != nullptr) record->SetTotalSectors(static_cast<u64>(m_device->GetTotalSectors()));
    out[0] = record;
    return 1;
}

void CRAWSearchController::SetDevice(IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    m_device = device;
}

void CRAWSearchController::SetBlockSize(int sectorsPerBlock) {
    assert(0 < sectorsPerBlock && "0 < iSectorsperBlock");
    if (sectorsPerBlock > 0) m_sectorsPerBlock = sectorsPerBlock;
}

void CRAWSearchController::SetIProgressSink(IProgress* progress) {
    m_progress = progress;
    CNotifyCenter::Instance().SetProgress(progress);
}

int CRAWSearchController::PreparetoSearch() {
    ClearRecords();
    m_refused = true;
    m_lookup.reset();
    CRawFileAnalyserListSingle* tables = CRawFileAnalyserListSingle::CreateInstance();
    if (m_builder == nullptr || m_device == nullptr || m_sectorsPerBlock <= 0) return 0;
    const bool own = m_ownMap != nullptr && m_ownMultimap != nullptr && m_ownList != nullptr;
    if (!own) tables->ReinitAnalyzeList(nullptr);
    RawAnalyserMap& map = own ? *m_ownMap : tables->GetAnalyserMap(0);
    RawAnalyserMultimap& multimap = own ? *m_ownMultimap : tables->GetAnalyserMultimap(0);
    RawAnalyserList& list = own ? *m_ownList : tables->GetAnalyserList(0);
    for (auto& entry : map) entry.second->ResetFollowState();
    for (auto& entry : multimap) entry.second->ResetFollowState();
    for (IRawFileAnalyser* a : list) a->ResetFollowState();
    m_lookup = std::make_unique<RawAnalyserLookup>(map, multimap, list);
    CRAWFileManager::g_nID = 10;
    m_sectorSize = m_device->GetSectorSize() == 0 ? 512 : m_device->GetSectorSize();
    // The reading window and the ring handle sectors up to 4096 bytes; larger ones are refused here.
    if (m_sectorSize > kRawMaxSectorSize || m_sectorSize % 512 != 0) return 0;
    // Each block is read into the ring's incoming slot and searched there, the previous block before it.
    m_lookBack.InitBufferDevice(m_device, 0, m_sectorSize, static_cast<unsigned>(m_sectorsPerBlock),
                                kLookBackBlocks);
    ResetRawNameCounters();
    m_fileTypeManager.Initialize();
    m_builder->AddSearcherInfo(SEARCHER_RAW, 1);
    m_builder->AddSearcherInfo(SEARCHER_RAW_TAG, 1000);
    m_windowReady = m_lookBack.IsInitialised();
    m_refused = false;
    return 1;
}

CRAWFileManager* CRAWSearchController::GetFileManager(RAW_FILE_TYPE type) {
    if (type >= kRawFileTypeRows) return nullptr;
    const std::string ext = RawFileExtension(type);
    const u32 category = m_fileTypeManager.GetFileTypeID(ext.c_str());
    auto it = m_managers.find(category);
    if (it != m_managers.end()) return it->second;
    auto* manager = new CRAWFileManager(1, category, m_builder);
    m_managers[category] = manager;
    return manager;
}

bool CRAWSearchController::Publish(CRawFileInfo* record) {
    CRAWFileManager* manager = GetFileManager(record->m_type);
    if (manager == nullptr) return false;
    ClampToDevice(record);
    manager->AddRawFileInfo(record);
    return true;
}

void CRAWSearchController::ClampToDevice(CRawFileInfo* record) const {
    // A size read from a header or reached by a scan that ran into the zeros past the device end
    // never reaches beyond the sectors that exist.
    const i64 total = m_device != nullptr ? m_device->GetTotalSectors() : 0;
    if (total <= 0 || record->m_startSector < 0 || record->m_startSector >= total) return;
    const u64 available = static_cast<u64>(total - record->m_startSector) * m_sectorSize;
    if (record->m_size > available) record->m_size = available;
}

int CRAWSearchController::AnalyzeBlock(i64 startSector, i64 sectorCount) {
    if (m_refused || m_lookup == nullptr || m_lookup->Empty() || !m_windowReady) return 1;
    if (sectorCount <= 0 || startSector < 0) return 1;
    // A block longer than the buffer is taken in pieces of the block size.
    for (i64 done = 0; done < sectorCount; done += m_sectorsPerBlock) {
        AnalyzeSectors(startSector + done, std::min<i64>(m_sectorsPerBlock, sectorCount - done));
    }
    return 1;
}

void CRAWSearchController::AnalyzeSectors(i64 start, i64 count) {
    const u64 half = u64{m_sectorSize} * static_cast<u64>(m_sectorsPerBlock);
    unsigned char* current = m_lookBack.IncomingBlock();
    const u64 bytes = static_cast<u64>(count) * m_sectorSize;
    if (m_device->ReadSector(current, start, count) == 0) {
        // Skipped, but its place in the buffer and the ring holds zeros, so the ring stays in step.
        memset(current, 0, half);
        FinishBlock(count);
        return;
    }
    if (bytes < half) memset(current + bytes, 0, half - bytes);

    const bool useBitmap = m_bitmap != nullptr && m_bitmap->GetBitmapData() != nullptr;
    const i64 scale = useBitmap ? std::max<i64>(1, m_bitmap->GetScale()) : 1;
    CRawFileInfo::SearchContext ctx;
    ctx.bufferStartSector = start > 0 ? start - m_sectorsPerBlock : start;
    ctx.blockEndSector = start + count;
    CNotifyCenter& notify = CNotifyCenter::Instance();
    const RawAnalyserLookup& lookup = *m_lookup;
    const u32 sectorSize = m_sectorSize;
    const bool askListDirectly = lookup.ListSize() <= kShortList;
    // One sector: most leave after a few table tests.
    const auto search = [&](unsigned char* p, i64 s) __attribute__((always_inline)) {
        const bool zeroStart = ZeroWord(p);
        // A sector starting with a zero word is offered only to the list (an empty list takes none); an
        // all-zero one to nothing. Sectors that no table can claim are not looked up.
        const bool ask = !zeroStart ? lookup.MayAccept(p)
                                    : lookup.ListMayAcceptZeroStart(p) && (askListDirectly || !AllZero(p, sectorSize));
        LookUpResult looked{nullptr, false};
        if (ask) {
            looked = LookUp(p, s, ctx);
            if (looked.done) return;
        }
        if (m_guessCount > 0) {
            // What the open guesses read of the sector's edges, told once for all of them.
            ctx.leadingZero = zeroStart ? 4 : 0;
            ctx.trailingZeroBytes = TrailingZeroBytes(p, sectorSize);
            ctx.newFileHere = nullptr;
            CalcRawFileSize(p, s, ctx, looked.found);
        }
    };
    // Runs of sectors between the checks for a stop; sectors the bitmap marks are skipped.
    for (i64 i = 0; i < count;) {
        if (notify.isContinue() == 0) break;
        const i64 runEnd = std::min(count, i + kContinueStride);
        if (!useBitmap) {
            unsigned char* p = current + static_cast<u64>(i) * sectorSize;
            for (; i < runEnd; ++i, p += sectorSize) search(p, start + i);
            continue;
        }
        while (i < runEnd) {
            const i64 s = start + i;
            if (m_bitmap->GetBit(s / scale) != 0) {
                i += s % scale == 0 ? scale : 1;
                continue;
            }
            search(current + static_cast<u64>(i) * sectorSize, s);
            ++i;
        }
    }
    FinishBlock(count);
}

CRAWSearchController::LookUpResult CRAWSearchController::LookUp(unsigned char* sector, i64 sectorNumber,
                                                                const CRawFileInfo::SearchContext& ctx) {
    IRawFileAnalyser* analyser = m_lookup->Find(sector, m_scratch, m_sectorSize, sectorNumber, ctx.bufferStartSector,
                                                 ctx.blockEndSector, false);
    if (analyser == nullptr) return {nullptr, false};
    // A signature inside a file still being followed that the file claims as its own part is no new
    // file (the open guesses read the sector as usual).
    for (int k = 0; k < m_guessCount; ++k) {
        if (m_guessing[k].record->OwnsStart(sector, static_cast<int>(m_sectorSize), sectorNumber)) {
            return {nullptr, false};
        }
    }
    CRawFileInfo* found = analyser->CreateRawFileInfo();
    if (found == nullptr) return {nullptr, true};
    found->m_type = m_scratch.m_type;
    found->m_size = m_scratch.m_size;
    found->m_startSector = sectorNumber;
    found->m_analyser = analyser;
    found->m_analyserType = static_cast<u32>(analyser->GetDefaultType());
    if (m_sectorMap != nullptr) m_sectorMap->emplace(sectorNumber, found->m_type);
    if (found->m_size != 0 && GetFileManager(found->m_type) != nullptr) {
        Publish(found);
        delete found;
        return {nullptr, true};
    }
    AddRawFileInfoToList(found, sector, sectorNumber);
    return {found, false};
}

void CRAWSearchController::FinishBlock(i64 count) {
    if (m_lookBack.IsFullBuffer()) SizePendingFromLookBack(count);
    m_lookBack.AddIncomingBlock();
}

void CRAWSearchController::SizePendingFromLookBack(i64 blockSectors) {
    CNotifyCenter& notify = CNotifyCenter::Instance();
    const i64 oldestEnd = static_cast<i64>(m_lookBack.GetDeviceStartSector()) + blockSectors - 1;
    while (!m_pending.empty()) {
        if (notify.isContinue() == 0) return;
        CRawFileInfo* record = m_pending.front();
        if (record->m_startSector > oldestEnd) return;
        if (record->m_analyser != nullptr) {
            try {
                record->m_analyser->GetRawFileSize(*record, &m_lookBack);
            } catch (...) {
                // An analyser that throws loses only its own file.
            }
            if (record->m_size != 0) Publish(record);
        }
        delete record;
        m_pending.pop_front();
    }
}

void CRAWSearchController::AddRawFileInfoToList(CRawFileInfo* record, unsigned char* sector, i64 sectorNumber) {
    const bool guess = record->WhetherImplementGuess();
    if (!guess && record->m_size == 0) {
        m_pending.push_back(record);
        return;
    }
    if (guess && record->m_size == 0) {
        if (m_guessCount == kMaxGuessing) {
            // The oldest gives up; it stays in the found list and is sized at the end of the search.
            CRawFileInfo* oldest = m_guessing[0].record;
            if (oldest->m_analyser != nullptr) oldest->m_analyser->ResetFollowState();
            oldest->WillBeRemove(sector, sectorNumber);
            for (int k = 1; k < m_guessCount; ++k) m_guessing[k - 1] = m_guessing[k];
            --m_guessCount;
        }
        m_found.push_back(record);
        m_guessing[m_guessCount++] = {record, std::prev(m_found.end())};
        return;
    }
    m_found.push_back(record);
}

void CRAWSearchController::CalcRawFileSize(unsigned char* sector, i64 sectorNumber,
                                           CRawFileInfo::SearchContext& ctx, CRawFileInfo* foundHere) {
    for (int k = 0; k < m_guessCount;) {
        Guess member = m_guessing[k];
        ctx.newFileHere = member.record == foundHere ? nullptr : foundHere;
        if (member.record->CalcRawSize(sector, static_cast<int>(m_sectorSize), sectorNumber, ctx) != 1) {
            ++k;
            continue;
        }
        CRawFileInfo* record = member.record;
        if (record->m_size != 0) {
            if (GetFileManager(record->m_type) != nullptr) {
                Publish(record);
                m_found.erase(member.inFound);
                delete record;
            }
        } else if (record->m_analyser != nullptr) {
            record->WillBeRemove(sector, sectorNumber);
            m_found.erase(member.inFound);
            m_pending.push_back(record);
        }
        for (int j = k + 1; j < m_guessCount; ++j) m_guessing[j - 1] = m_guessing[j];
        --m_guessCount;
    }
}

int CRAWSearchController::EndSearch(int finish) {
    if (finish == 0) return 1;
    for (int k = 0; k < m_guessCount; ++k) {
        CRawFileInfo* record = m_guessing[k].record;
        if (record->m_analyser != nullptr) record->m_analyser->ResetFollowState();
        record->WillBeRemove(nullptr, -1);
    }
    m_guessCount = 0;
    m_found.splice(m_found.end(), m_pending);
    printf("--------------%s:%d:list size = %d--------\n", "EndSearch", 401, static_cast<int>(m_found.size()));
    // Every start the search took, false ones included (the benchmark reads this line).
    if (m_sectorMap != nullptr) printf("--------------%s:%d:file sector map size = %zu--------\n", "EndSearch", 402, m_sectorMap->size());
    CNotifyCenter& notify = CNotifyCenter::Instance();
    const u64 total = m_found.size();
    u64 done = 0;
    while (!m_found.empty()) {
        if (notify.isContinue() == 0) break;
        CRawFileInfo* record = m_found.front();
        m_found.pop_front();
        if (record->m_size == 0 && record->m_analyser != nullptr && !m_refused) {
            try {
                record->m_analyser->GetRawFileSize(*record, m_device);
            } catch (...) {
            }
        }
        // Every record that has a size is published, whether it was sized now or earlier.
        if (record->m_size != 0) Publish(record);
        delete record;
        ++done;
        if (m_progress != nullptr && (done % 64 == 0 || done == total)) {
            _PROGRESS_INFO info = MakeProgressInfo(PROGRESS_RUNNING, total, done);
            m_progress->UpdateProgress(&info);
        }
    }
    ClearRecords();
    printf("--------------%s:%d:--------\n", "EndSearch", 436);
    fflush(stdout);
    CNotifyCenter::Instance().Reset();
    m_windowReady = false;
    m_lookBack.Close();
    if (m_builder != nullptr) {
        m_builder->FlashBuild(SEARCHER_RAW);
        m_builder->FlashBuild(SEARCHER_RAW_TAG);
    }
    m_bitmap = nullptr;
    return 1;
}

void CRAWSearchController::CalcReverseBufferZeroCnt(unsigned char* sector, int length, int& count) {
    for (int w = 0; w < length / 4; ++w) {
        const int at = length - count - 4;
        if (at < 0 || !ZeroWord(sector + at)) return;
        count += 4;
    }
}

ICompleteFileSystemSearchController* CreateRAWSearcher() { return new CRAWSearchController(); }
