#include "engine/RAWSearch/Analysers/DWGAnalyser.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

namespace BruteForce {

namespace {

using namespace dwg_layout;

struct Release {
    const char* name;
    u32 format;
};

constexpr Release kReleases[] = {
    {"AC1027", CDWGRawInfo::kScrambled}, {"AC1024", CDWGRawInfo::kScrambled}, {"AC1021", CDWGRawInfo::kCoded},
    {"AC1018", CDWGRawInfo::kScrambled}, {"AC1015", CDWGRawInfo::kLocators},  {"AC1014", CDWGRawInfo::kLocators},
    {"AC1013", CDWGRawInfo::kLocators},  {"AC1012", CDWGRawInfo::kLocators},  {"AC1009", CDWGRawInfo::kUnknown},
};

const Release* FindRelease(const unsigned char* sector) {
    for (const Release& r : kReleases) {
        if (memcmp(sector + kVersion, r.name, kVersionSize) == 0) return &r;
    }
    return nullptr;
}

}  // namespace

CDWGAnalyser::CDWGAnalyser() : IRawFileAnalyser(RAW_TYPE_DWG) {}

int CDWGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || FindRelease(sector) == nullptr) return 0;
    info.m_type = RAW_TYPE_DWG;
    return 1;
}

CRawFileInfo* CDWGAnalyser::CreateRawFileInfo() { return new CDWGRawInfo(); }

CDWGRawInfo::CDWGRawInfo() { m_type = RAW_TYPE_DWG; }

void CDWGRawInfo::Descramble(unsigned char* header, size_t length) {
    u32 x = kScrambleSeed;
    for (size_t i = 0; i < length; ++i) {
        x = x * kScrambleMultiplier + kScrambleIncrement;
        header[i] ^= static_cast<unsigned char>(x >> 16);
    }
}

std::array<unsigned char, kDecodedSize> CDWGRawInfo::Deinterleave(const unsigned char* coded) {
    std::array<unsigned char, kDecodedSize> out{};
    for (size_t block = 0; block < kCodedBlocks; ++block) {
        for (size_t j = 0; j < kCodedBlockData; ++j) out[block * kCodedBlockData + j] = coded[block + j * kCodedBlocks];
    }
    return out;
}

int CDWGRawInfo::Finish(u64 size) {
    m_size = size > kMaxSize ? 0 : size;
    return RAW_SIZE_FINISHED;
}

int CDWGRawInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const i64 covered = (s - m_startSector) * n;
    if (s == m_startSector) {
        const int first = FirstSector(sector, n);
        if (first == RAW_SIZE_FINISHED) return first;
    }
    switch (m_format) {
        case kLocators:
            return WalkLocators(sector, n, s, ctx);
        case kCoded:
            return CollectCoded(sector, n, covered);
        default:
            return Finish(0);
    }
}

int CDWGRawInfo::FirstSector(const unsigned char* sector, int n) {
    const ByteReader head(sector, static_cast<size_t>(n));
    if (!head.Has(kVersion, kVersionSize)) return Finish(0);
    const Release* release = FindRelease(sector);
    m_format = release != nullptr ? release->format : kUnknown;
    if (m_format == kLocators) {
        const auto count = head.Le32(kLocatorCount);
        if (!count) return Finish(0);
        m_recordCount = *count;
        m_readPosition = kFirstLocator;
        m_nextRecord = 0;
        m_largestEnd = 0;
        return RAW_SIZE_CONTINUE;
    }
    if (m_format == kScrambled) {
        const auto scrambled = head.Bytes(kScrambledHeader, kScrambledHeaderSize);
        if (!scrambled) return Finish(0);
        std::array<unsigned char, kScrambledHeaderSize> header{};
        memcpy(header.data(), scrambled->data(), header.size());
        Descramble(header.data(), header.size());
        const ByteReader h(header.data(), header.size());
        const bool valid = h.Le32(kHeaderZero) == 0u && h.Le64(kHeaderMarks) == kHeaderMarksValue &&
                           h.Le32(kHeaderSectionMark) == kHeaderSectionMarkValue &&
                           h.Le64(kHeaderPageMarks) == kHeaderPageMarksValue;
        if (!valid) return Finish(0);
        const u64 second = *h.Le64(kSecondHeaderAddress);
        // The second copy's address comes from disk: a value near 2^64 must not wrap into a small size.
        return Finish(second > kMaxSize ? 0 : second + kScrambledHeaderSize);
    }
    if (m_format == kCoded) {
        m_codedWanted = kCodedHeaderSize;
        m_codedHeld = 0;
        return RAW_SIZE_CONTINUE;
    }
    return Finish(0);
}

int CDWGRawInfo::WalkLocators(const unsigned char* sector, int n, long long s, const SearchContext& ctx) {
    const StreamWindow window(sector, n, s, m_startSector, ctx);
    while (m_nextRecord < m_recordCount) {
        // Garbage counts end at the first locator whose number is not the running index; the position
        // is bounded all the same.
        if (static_cast<u64>(m_readPosition) > kMaxSize) return Finish(0);
        const auto locator = window.Bytes(m_readPosition, kLocatorSize);
        if (!locator) {
            // Not yet read: wait for the sector that holds it. Already passed: it is lost.
            if (m_readPosition + static_cast<i64>(kLocatorSize) > window.End()) return RAW_SIZE_CONTINUE;
            return Finish(0);
        }
        if (*locator->U8(kLocatorNumber) != (m_nextRecord & 0xFF) || m_nextRecord > 0xFF) return Finish(0);
        const u64 end = static_cast<u64>(*locator->Le32(kLocatorOffset)) + *locator->Le32(kLocatorLength);
        m_largestEnd = std::max(m_largestEnd, end);
        ++m_nextRecord;
        m_readPosition += kLocatorSize;
    }
    return Finish(m_largestEnd);
}

int CDWGRawInfo::CollectCoded(const unsigned char* sector, int n, i64 covered) {
    // The coded bytes [128, 1112) of the file, copied from each sector that holds some of them.
    const i64 from = static_cast<i64>(kCodedHeader) + m_codedHeld;
    const i64 sectorEnd = covered + n;
    if (from >= covered && from < sectorEnd) {
        const u64 take = std::min<u64>(m_codedWanted, static_cast<u64>(sectorEnd - from));
        memcpy(m_coded.data() + m_codedHeld, sector + (from - covered), take);
        m_codedHeld += static_cast<u32>(take);
        m_codedWanted -= static_cast<u32>(take);
    } else if (from < covered) {
        return Finish(0);  // a sector was skipped: the header cannot be completed
    }
    if (m_codedWanted > 0) return RAW_SIZE_CONTINUE;
    const auto data = Deinterleave(m_coded.data());
    const ByteReader d(data.data(), data.size());
    // Only a stored header can be read here: a compressed one needs the release 21 decompressor,
    // which is not built (no tool at hand writes such files to test it against), so the file keeps
    // no size.
    if (static_cast<i32>(*d.Le32(kCompressedLength)) >= 1) return Finish(0);
    static_assert(kHeaderData + kStoredHeaderSize <= kDecodedSize);
    const ByteReader header(data.data() + kHeaderData, kStoredHeaderSize);
    return Finish(*header.Le64(kFileSize));
}

}  // namespace BruteForce

IRawFileAnalyser* CreateDWGAnalyser() { return new BruteForce::CDWGAnalyser(); }
