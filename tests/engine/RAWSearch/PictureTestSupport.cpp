#include "PictureTestSupport.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

namespace pictest {

TiffWriter::TiffWriter(size_t size, bool little, const char* magic)
    : m_bytes(size, 0), m_order(little ? ByteOrder::Little : ByteOrder::Big) {
    if (magic != nullptr) {
        memcpy(m_bytes.data(), magic, 4);
    } else {
        memcpy(m_bytes.data(), little ? "II*\0" : "MM\0*", 4);
    }
}

void TiffWriter::U16(size_t at, u16 v) { ByteWriter(m_bytes).U16(at, v, m_order); }
void TiffWriter::U32(size_t at, u32 v) { ByteWriter(m_bytes).U32(at, v, m_order); }
void TiffWriter::First(u32 offset) { U32(4, offset); }
void TiffWriter::Fill(size_t at, size_t length, unsigned char byte) {
    std::fill(m_bytes.begin() + static_cast<long>(at), m_bytes.begin() + static_cast<long>(at + length), byte);
}

size_t TiffWriter::Directory(size_t at, const std::vector<TiffEntry>& entries, u32 link, size_t values) {
    U16(at, static_cast<u16>(entries.size()));
    const size_t end = at + 2 + entries.size() * 12 + 4;
    size_t next = values != 0 ? values : end;
    for (size_t i = 0; i < entries.size(); ++i) {
        const TiffEntry& e = entries[i];
        const size_t field = at + 2 + i * 12;
        U16(field, e.tag);
        U16(field + 2, e.type);
        U32(field + 4, e.count);
        if (e.raw) {
            U32(field + 8, e.rawValue);
        } else if (e.values.size() <= 4) {
            ByteWriter(m_bytes).Bytes(field + 8, e.values.data(), e.values.size());
        } else {
            U32(field + 8, static_cast<u32>(next));
            ByteWriter(m_bytes).Bytes(next, e.values.data(), e.values.size());
            next += e.values.size() + (e.values.size() % 2);
        }
    }
    U32(end - 4, link);
    return std::max(next, end);
}

TiffEntry TiffWriter::Short(u16 tag, u16 v) const {
    Bytes b(2);
    ByteWriter(b).U16(0, v, m_order);
    return {tag, 3, 1, b};
}

TiffEntry TiffWriter::Long(u16 tag, u32 v) const {
    Bytes b(4);
    ByteWriter(b).U32(0, v, m_order);
    return {tag, 4, 1, b};
}

TiffEntry TiffWriter::Longs(u16 tag, const std::vector<u32>& v) const {
    Bytes b(v.size() * 4);
    for (size_t i = 0; i < v.size(); ++i) ByteWriter(b).U32(i * 4, v[i], m_order);
    return {tag, 4, static_cast<u32>(v.size()), b};
}

TiffEntry TiffWriter::Ascii(u16 tag, const std::string& text) const {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return {tag, 2, static_cast<u32>(b.size()), b};
}

TiffEntry TiffWriter::Raw(u16 tag, u16 type, u32 count, u32 value) const {
    TiffEntry e{tag, type, count, {}};
    e.raw = true;
    e.rawValue = value;
    return e;
}

Bytes SmallTiff(std::vector<TiffEntry> extra, size_t stripAt, u32 stripBytes, bool little, size_t size) {
    TiffWriter t(size != 0 ? size : stripAt + stripBytes, little);
    t.First(8);
    std::vector<TiffEntry> entries = {t.Short(256, 8), t.Short(257, 8)};
    entries.insert(entries.end(), extra.begin(), extra.end());
    if (stripBytes != 0) {
        entries.push_back(t.Long(273, static_cast<u32>(stripAt)));
        entries.push_back(t.Long(279, stripBytes));
        t.Fill(stripAt, stripBytes, 0x55);
    }
    std::sort(entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    t.Directory(8, entries, 0);
    return t.bytes();
}

TiffEntry Make(const std::string& make) { return TiffWriter(8).Ascii(271, make); }
TiffEntry Model(const std::string& model) { return TiffWriter(8).Ascii(272, model); }

FeedResult Feed(CRawFileInfo& record, IRawFileAnalyser* analyser, const Bytes& image, long long startSector,
                unsigned sectorSize, long long blockSectors) {
    FeedResult result;
    const long long total = static_cast<long long>(image.size() / sectorSize);
    record.m_startSector = startSector;
    record.m_analyser = analyser;
    bool done = false;
    // Blocks as the search reads them: aligned on blockSectors from 0.
    for (long long block = startSector / blockSectors * blockSectors; block < total && !done; block += blockSectors) {
        const long long blockEnd = std::min(block + blockSectors, total);
        const long long first = std::max<long long>(block - blockSectors, 0);
        // The double buffer: the previous block and this one, in memory of exactly their size.
        auto buffer = std::make_unique<unsigned char[]>(static_cast<size_t>(blockEnd - first) * sectorSize);
        memcpy(buffer.get(), image.data() + first * sectorSize, static_cast<size_t>(blockEnd - first) * sectorSize);
        CRawFileInfo::SearchContext ctx;
        ctx.bufferStartSector = first;
        ctx.blockEndSector = blockEnd;
        for (long long s = std::max(block, startSector); s < blockEnd; ++s) {
            unsigned char* sector = buffer.get() + (s - first) * sectorSize;
            ctx.trailingZeroBytes = SectorZeroTail(sector, sectorSize);
            ctx.leadingZero = ByteReader(sector, 4).Equals(0, "\0\0\0\0", 4) ? 4 : 0;
            if (record.CalcRawSize(sector, static_cast<int>(sectorSize), s, ctx) == RAW_SIZE_FINISHED) {
                result.finished = true;
                result.sector = s;
                done = true;
                break;
            }
        }
    }
    if (!done || record.m_size == 0) record.WillBeRemove(nullptr, -1);
    result.size = record.m_size;
    result.name = record.GetRawFileName();
    result.time = record.GetRawFileTime();
    result.type = record.m_type;
    result.analyser = record.m_analyser;
    return result;
}

FeedResult Carve(IRawFileAnalyser& analyser, const Bytes& image, long long startSector, unsigned sectorSize,
                 long long blockSectors) {
    FeedResult result;
    Bytes first(image.begin() + startSector * sectorSize, image.begin() + (startSector + 1) * sectorSize);
    CRawFileInfo accepted;
    if (analyser.AnalyseBuffer(first.data(), accepted) != 1) return result;
    std::unique_ptr<CRawFileInfo> record(analyser.CreateRawFileInfo());
    record->m_type = accepted.m_type;
    record->m_size = accepted.m_size;
    if (record->m_size != 0 || !record->WhetherImplementGuess()) {
        result.finished = true;
        result.sector = startSector;
        result.size = record->m_size;
        result.type = record->m_type;
        result.analyser = &analyser;
        return result;
    }
    return Feed(*record, &analyser, image, startSector, sectorSize, blockSectors);
}

FeedResult Measure(IRawFileAnalyser& analyser, const Bytes& image, long long startSector, unsigned sectorSize) {
    rawtest::MemoryDevice device(image, sectorSize);
    CRawFileInfo record;
    record.m_startSector = startSector;
    FeedResult result;
    result.finished = analyser.GetRawFileSize(record, &device);
    result.size = record.m_size;
    result.name = record.GetRawFileName();
    result.time = record.GetRawFileTime();
    result.type = record.m_type;
    result.analyser = &analyser;
    return result;
}

Bytes Placed(const Bytes& file, long long startSector, size_t sectors, unsigned sectorSize) {
    Bytes image(std::max<size_t>(sectors * sectorSize, static_cast<size_t>(startSector) * sectorSize + file.size() + sectorSize), 0);
    image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize, 0);
    memcpy(image.data() + startSector * sectorSize, file.data(), file.size());
    return image;
}

}  // namespace pictest
