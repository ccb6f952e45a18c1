#include "engine/RAWSearch/Analysers/SQLiteAnalyser.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstring>
#include <string_view>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace sqlite_layout;

namespace {

bool Contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// The 8-bit text at the start of bytes, up to the first zero byte.
std::string_view TextUpToZero(const ByteReader& bytes) {
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    const void* zero = memchr(data, 0, bytes.size());
    return {data, zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - data) : bytes.size()};
}

}  // namespace

namespace BruteForce {

int CFCPEvtAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    const ByteReader h(sector, 512);
    if (!h.Equals(0, kMagic, sizeof(kMagic))) return 0;
    const u16 pageSize = *h.Be16(kPageSize);
    if (pageSize == 0 || pageSize % 1024 != 0) return 0;
    if (*h.Be32(kEncoding) > 3) return 0;
    info.m_type = RAW_TYPE_SQLITE;
    return 1;
}

CRawFileInfo* CFCPEvtAnalyser::CreateRawFileInfo() { return new CFCPEvtFileInfo(); }

bool CFCPEvtFileInfo::AnalyseABCDDBFileType(const ByteReader& page, u32 cellCount) {
    static constexpr std::string_view kNames[] = {"ABCDRecord", "ABCDPhoneNumber"};
    u32 named = 0;
    for (u32 i = 0; i < cellCount; ++i) {
        const auto pointer = page.Be16(kCellPointers + 2 * static_cast<size_t>(i));
        if (!pointer || *pointer >= page.size()) continue;
        // The cell's first bytes: its record header and the short texts that follow it.
        const size_t length = std::min<size_t>(page.size() - *pointer, kCellTextMax + 16);
        const std::string_view cell(reinterpret_cast<const char*>(page.data()) + *pointer, length);
        for (const std::string_view name : kNames) {
            const size_t at = cell.find(name);
            if (at == std::string_view::npos) continue;
            const size_t after = at + name.size();
            if (after < cell.size() && std::isalnum(static_cast<unsigned char>(cell[after])) != 0) continue;
            ++named;
            break;
        }
        if (named >= 2) return true;
    }
    return false;
}

RAW_FILE_TYPE CFCPEvtFileInfo::NameKind(const ByteReader* firstCellText, const ByteReader* contentText) {
    static constexpr std::string_view kMuse = "tableactiveactive";
    if (firstCellText != nullptr && firstCellText->size() >= 2 * kMuse.size()) {
        bool muse = true;
        for (size_t i = 0; i < kMuse.size() && muse; ++i) {
            muse = *firstCellText->U8(2 * i) == static_cast<u8>(kMuse[i]) && *firstCellText->U8(2 * i + 1) == 0;
        }
        if (muse) return RAW_TYPE_MUSE;
    }
    if (contentText != nullptr) {
        const std::string_view text = TextUpToZero(*contentText);
        if (Contains(text, "payload") && Contains(text, "metadata")) return RAW_TYPE_SKETCH;
    }
    return 0;
}

int CFCPEvtFileInfo::GuessCalculate(const ByteReader& page) {
    const u8 type = *page.U8(0);
    if (type == 65 || type == 1 || type == 2 || type == 5 || type == 8 || type == 10 || type == 13) {
        m_run = 0;
        return 1;
    }
    if (type != 0) return 2;
    // Pages of type 0: overflow and free-list pages, or the empty sectors after the file. A chain of
    // consecutive page numbers (byte 3) continues the file; empty pages are counted and five of them end it.
    const u8 link = *page.U8(3);
    if (m_inSequence && link == static_cast<u8>(m_lastSequenceByte + 1)) {
        m_lastSequenceByte = link;
        m_run = 0;
        return 1;
    }
    if (link != 0) {
        m_inSequence = true;
        m_lastSequenceByte = link;
        m_run = 1;
        return 1;
    }
    if (m_run >= kEmptyRunEnd) return 2;
    m_run = *page.U8(4) == 0 ? m_run + 1 : 0;
    return 1;
}

int CFCPEvtFileInfo::EndSearch(i64 p, long long sectorNumber) {
    const i64 pageSize = m_pageSize;
    i64 size = p - static_cast<i64>(m_run) * pageSize;
    // Free-list pages are taken to lie, empty, at the end of the file.
    if (m_namePending) size += static_cast<i64>(m_freePages) * pageSize;
    size = std::clamp<i64>(size, 0, static_cast<i64>(kCap));
    if (m_type == RAW_TYPE_SKETCH) {
        const i64 stated = static_cast<i64>(m_pages) * pageSize;
        if (stated > 0 && std::llabs(stated - size) <= static_cast<i64>(kSketchSlackPages) * pageSize) size = stated;
    }
    m_size = static_cast<u64>(size);
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

int CFCPEvtFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    if (m_first) {
        m_first = false;
        const auto h = w.Bytes(0, kHeaderNeeds);
        m_pageSize = h ? *h->Be16(kPageSize) : 0;
        if (m_pageSize == 0) {
            m_size = 0;
            return RAW_SIZE_FINISHED;
        }
        m_pages = *h->Be32(kPages);
        // Writers since 2010 keep the page count in the header, valid while its counter matches: the
        // database's exact size.
        const u32 counter = *h->Be32(kChangeCounter);
        if (m_pages != 0 && counter != 0 && *h->Be32(kVersionValidFor) == counter) {
            m_statedSize = std::min<u64>(u64{m_pages} * m_pageSize, kCap);
        }
        m_freePages = *h->Be32(kFreePages);
        m_cellContent = *h->Be16(kCellContent);
        m_firstCell = *h->Be16(kFirstCell);
        m_nextPage = m_pageSize;  // page 1 holds the file header
    }
    if (m_namePending && !m_nameLooked && static_cast<i64>(m_firstCell) < w.SectorEnd()) {
        const i64 textAt = static_cast<i64>(m_firstCell + kNameOffset);
        const auto first = w.Bytes(textAt, kMuseTextBytes);
        if (first || textAt + static_cast<i64>(kMuseTextBytes) <= w.Begin() || textAt >= static_cast<i64>(m_pageSize)) {
            ByteReader content = w.From(static_cast<i64>(m_cellContent + kNameOffset));
            content = ByteReader(content.data(), std::min<size_t>(content.size(), kSketchTextBytes));
            const RAW_FILE_TYPE kind = NameKind(first ? &*first : nullptr, content.size() > 0 ? &content : nullptr);
            m_nameLooked = true;
            if (kind != 0) {
                m_type = kind;
                m_namePending = false;
            }
        }
    }
    while (static_cast<i64>(m_nextPage) < w.SectorEnd()) {
        const i64 q = static_cast<i64>(m_nextPage);
        if (m_nextPage > kCap) return EndSearch(q, sectorNumber);
        if (m_statedSize != 0 && m_nextPage >= m_statedSize) {
            m_size = m_statedSize;
            SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
            return RAW_SIZE_FINISHED;
        }
        const auto head = w.Bytes(q, 8);
        if (!head) return RAW_SIZE_CONTINUE;
        const u32 cells = *head->Be16(kPageCells);
        if (m_type != RAW_TYPE_ABCDDB && cells >= kAddressBookMinCells && cells <= kAddressBookMaxCells) {
            if (const auto page = w.Bytes(q, m_pageSize); page && AnalyseABCDDBFileType(*page, cells)) {
                m_type = RAW_TYPE_ABCDDB;
            }
        }
        if (GuessCalculate(*head) == 2) return EndSearch(q, sectorNumber);
        m_nextPage += m_pageSize;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateCFCPEvtAnalyser() { return new BruteForce::CFCPEvtAnalyser(); }
