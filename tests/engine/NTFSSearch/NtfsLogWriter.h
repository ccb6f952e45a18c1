// A $LogFile written from the layout, for the NTFS tests (ntfs-3g leaves the log all 0xFF): restart
// pages ("RSTR": update sequence number at 30, "NTFS" in UTF-16LE at 144), record pages ("RCRD",
// update sequence at 40 with 9 entries, last LSN at 8, last end LSN at 32, records from 64), each
// record a 48-byte header (LSN at 0, client length at 24) and client data (undo offset at 56 and length
// at 58 counted from 48, record offset at 64, attribute offset at 66, cluster index at 68, target VCN
// at 72); and a volume's log planted with what rebuilds a deleted empty file.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "support/PutBytes.h"

namespace ntfslog {

using testsupport::PutInto;


inline std::vector<u8> LogRecord(u64 lsn, const std::vector<u8>& data, i64 record, u16 recordOffset,
                                 u16 attributeOffset, u32 spc) {
    std::vector<u8> r(88 + data.size(), 0);
    PutInto(r).Le64(0, lsn);
    PutInto(r).Le32(24, u32(r.size() - 48));
    PutInto(r).Le16(56, 40);
    PutInto(r).Le16(58, u16(data.size()));
    PutInto(r).Le16(64, recordOffset);
    PutInto(r).Le16(66, attributeOffset);
    PutInto(r).Le16(68, spc < 3 ? 0 : u16((record % 4) * 2));
    PutInto(r).Le64(72, u64(spc < 3 ? record : record / 4));
    std::memcpy(r.data() + 88, data.data(), data.size());
    return r;
}

struct Placed {
    size_t at;
    std::vector<u8> bytes;  // cut at the page end
};

// Protects a page of eight 512-byte sectors: the sequence number at `usa`, the saved ends after it.
inline void Protect(std::vector<u8>& p, size_t usa, u16 sequence) {
    PutInto(p).Le16(usa, sequence);
    for (size_t k = 0; k < 8; ++k) {
        std::memcpy(p.data() + usa + 2 + 2 * k, p.data() + 512 * k + 510, 2);
        PutInto(p).Le16(512 * k + 510, sequence);
    }
}

inline std::vector<u8> LogPage(const std::vector<Placed>& records, u64 lastLsn, u64 lastEndLsn) {
    std::vector<u8> p(4096, 0);
    std::memcpy(p.data(), "RCRD", 4);
    PutInto(p).Le16(4, 40);
    PutInto(p).Le16(6, 9);
    PutInto(p).Le64(8, lastLsn);
    PutInto(p).Le64(32, lastEndLsn);
    for (const Placed& r : records) std::memcpy(p.data() + r.at, r.bytes.data(), std::min(r.bytes.size(), 4096 - r.at));
    Protect(p, 40, 3);
    return p;
}

// A restart page; `torn` leaves one sector with another update sequence number.
inline std::vector<u8> RestartPage(bool torn = false) {
    std::vector<u8> p(4096, 0);
    std::memcpy(p.data(), "RSTR", 4);
    PutInto(p).Le16(4, 30);
    PutInto(p).Le16(6, 9);
    std::memcpy(p.data() + 144, "N\0T\0F\0S\0", 8);
    Protect(p, 30, 7);
    if (torn) PutInto(p).Le16(3 * 512 + 510, 8);
    return p;
}

// The record n of the volume at byte `base` of the image, through $MFT's runs (protection kept).
inline std::vector<u8> RecordAt(const std::vector<u8>& bytes, u64 base, i64 n) {
    const ByteReader boot(bytes.data() + base, 512);
    const i64 cluster = i64(boot.Le16(11).value_or(512)) * boot.U8(13).value_or(1);
    const i64 mft = i64(boot.Le64(48).value_or(0)) * cluster;
    std::vector<u8> own(bytes.begin() + i64(base) + mft, bytes.begin() + i64(base) + mft + 1024);
    CNTFSDataRunList runs;
    CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(own.data(), 1024, runs, 0, nullptr);
    const i64 byte = n * 1024;
    const i64 lcn = runs.GetLCN(byte / cluster);
    if (lcn < 0) return {};
    const i64 at = i64(base) + lcn * cluster + byte % cluster;
    return std::vector<u8>(bytes.begin() + at, bytes.begin() + at + 1024);
}

inline CNTFSDataRunList RunsOf(const std::vector<u8>& bytes, u64 base, i64 n) {
    std::vector<u8> r = RecordAt(bytes, base, n);
    CNTFSDataRunList runs;
    if (!r.empty()) CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(r.data(), 1024, runs, 0, nullptr);
    return runs;
}

// What PlantEmptyFileRebuild wrote.
struct PlantedLog {
    i64 cluster = 0;
    i64 readmeLcn = -1;     // where the empty file's runs now point (2 clusters)
    i64 pages = 0;          // pages of the log
    size_t firstLength = 0;  // the two undo records
    size_t secondLength = 0;
};

// Writes into the $LogFile of the volume at byte `base` (2 KiB clusters): undo records that turn the
// empty resident $DATA of record `empty` into a non-resident one of 2 clusters at record `readme`'s
// first cluster (the first carried from the last page into page 4, the second from page 4 into page
// 5), and a whole FILE record, a twin of record `report`.
inline PlantedLog PlantEmptyFileRebuild(std::vector<u8>& bytes, u64 base, i64 empty, i64 readme, i64 report) {
    PlantedLog out;
    const u32 spc = 4;
    const i64 cluster = 2048;
    out.cluster = cluster;
    out.readmeLcn = RunsOf(bytes, base, readme).GetLCN(0);
    std::vector<u8> target = RecordAt(bytes, base, empty);
    CNTFSFileRecord::UnfixupFileRecord(target.data(), 1024);
    const u16 data = u16(CNTFSFileRecord::GetAttributeOffset(target.data(), 1024, 0x80, 0));

    std::vector<u8> attribute(80, 0);
    attribute[8] = 1;          // non-resident
    PutInto(attribute).Le16(10, 64);  // name offset
    PutInto(attribute).Le64(24, 1);   // last VCN
    PutInto(attribute).Le16(32, 64);  // mapping pairs
    PutInto(attribute).Le64(40, 2 * cluster);
    PutInto(attribute).Le64(48, 2 * cluster);
    PutInto(attribute).Le64(56, 2 * cluster);
    const u8 pairs[] = {0x21, 0x02, u8(out.readmeLcn), u8(out.readmeLcn >> 8), 0x00};
    std::memcpy(attribute.data() + 64, pairs, sizeof pairs);
    const std::vector<u8> first(attribute.begin() + 8, attribute.begin() + 40);
    const std::vector<u8> second(attribute.begin() + 40, attribute.end());
    const std::vector<u8> r1 = LogRecord(10, first, empty, data, 8, spc);
    const std::vector<u8> r2 = LogRecord(11, second, empty, data, 40, spc);
    out.firstLength = r1.size();
    out.secondLength = r2.size();
    std::vector<u8> twin(88 + 1024, 0);
    PutInto(twin).Le64(0, 12);
    PutInto(twin).Le32(24, u32(twin.size() - 48));
    const std::vector<u8> reported = RecordAt(bytes, base, report);
    std::memcpy(twin.data() + 88, reported.data(), 1024);

    const CNTFSDataRunList logRuns = RunsOf(bytes, base, 2);
    const i64 log = i64(base) + logRuns.GetLCN(0) * cluster;
    out.pages = logRuns.GetTotalClusters() * cluster / 4096;
    // Records follow one another on a page; fillers (undo data aimed at no record) bring r1 to the end
    // of the last page, whence it carries into page 4, and r2 to the end of page 4, whence it carries
    // into page 5, after the twin.
    auto filler = [&](u64 lsn, size_t total) { return LogRecord(lsn, std::vector<u8>(total - 88, 0), -4, 0, 0, spc); };
    const size_t tail = 4096 - 64;
    std::vector<u8> page4tail(r1.begin() + 64, r1.end());
    auto place = [&](i64 page, const std::vector<u8>& p) { std::memcpy(bytes.data() + log + page * 4096, p.data(), 4096); };
    place(out.pages - 1, LogPage({{64, filler(9, tail - 64)}, {tail, r1}}, 10, 9));
    const size_t afterCarry = 64 + ((page4tail.size() + 7) & ~size_t(7));
    const size_t afterTwin = afterCarry + ((twin.size() + 7) & ~size_t(7));
    const size_t r2at = 4096 - 48;
    place(4, LogPage({{64, page4tail}, {afterCarry, twin}, {afterTwin, filler(13, r2at - afterTwin)}, {r2at, r2}}, 11, 10));
    place(5, LogPage({{64, std::vector<u8>(r2.begin() + 48, r2.end())}}, 11, 11));
    return out;
}

}  // namespace ntfslog
