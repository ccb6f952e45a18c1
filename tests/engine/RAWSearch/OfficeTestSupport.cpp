#include "OfficeTestSupport.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Core/RawFileTypes.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"

namespace officetest {

const unsigned char kSummaryInformationId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
const unsigned char kDocumentSummaryInformationId[16] = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                                         0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

namespace {

constexpr u32 kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSector = 0xFFFFFFFD, kDifatSector = 0xFFFFFFFC;

// Appends a little-endian value of width bytes.
void Put(Bytes& b, u64 v, size_t width) {
    const size_t at = b.size();
    b.resize(at + width);
    ByteWriter w(b.data() + at, width);
    if (width == 2) w.Le16(0, static_cast<u16>(v));
    if (width == 4) w.Le32(0, static_cast<u32>(v));
    if (width == 8) w.Le64(0, v);
}
void PutBytes(Bytes& b, const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    b.insert(b.end(), p, p + n);
}
void Pad(Bytes& b, size_t unit) { b.resize((b.size() + unit - 1) / unit * unit, 0); }

Bytes Utf16(const std::string& ascii) {
    Bytes out;
    for (char c : ascii) Put(out, static_cast<unsigned char>(c), 2);
    Put(out, 0, 2);
    return out;
}

Bytes DirectoryEntry(const std::string& name, u8 kind, u32 child, u32 right, u32 start, u64 size,
                     const unsigned char* clsid) {
    Bytes e = Utf16(name);
    const u16 nameBytes = static_cast<u16>(e.size());
    e.resize(64, 0);
    Put(e, nameBytes, 2);
    e.push_back(kind);
    e.push_back(1);
    Put(e, kFree, 4);
    Put(e, right, 4);
    Put(e, child, 4);
    if (clsid != nullptr) {
        PutBytes(e, clsid, 16);
    } else {
        e.resize(e.size() + 16, 0);
    }
    e.resize(116, 0);
    Put(e, start, 4);
    Put(e, size, 8);
    return e;
}

}  // namespace

u64 FileTime(int year, int month, int day, int hour, int minute, int second) {
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return (static_cast<u64>(timegm(&t)) + 11644473600ULL) * 10000000ULL;
}

Bytes PropertySet(const unsigned char* formatId, const std::vector<Property>& properties) {
    std::vector<Bytes> values;
    for (const Property& p : properties) {
        Bytes v;
        Put(v, p.type, 4);
        if (p.type == 30) {
            Put(v, p.text.size() + 1, 4);
            PutBytes(v, p.text.data(), p.text.size());
            v.push_back(0);
        } else if (p.type == 31) {
            const Bytes wide = Utf16(p.text);
            Put(v, wide.size() / 2, 4);
            PutBytes(v, wide.data(), wide.size());
        } else if (p.type == 64) {
            Put(v, p.number, 8);
        } else {
            Put(v, p.number, 2);
        }
        Pad(v, 4);
        values.push_back(v);
    }
    Bytes pairs, data;
    const u32 first = 8 + 8 * static_cast<u32>(properties.size());
    for (size_t k = 0; k < properties.size(); ++k) {
        Put(pairs, properties[k].id, 4);
        Put(pairs, first + data.size(), 4);
        PutBytes(data, values[k].data(), values[k].size());
    }
    Bytes s;
    Put(s, 0xFFFE, 2);
    Put(s, 0, 2);
    Put(s, 0x00020006, 4);
    s.resize(24, 0);
    Put(s, 1, 4);
    PutBytes(s, formatId, 16);
    Put(s, 48, 4);
    Put(s, 8 + pairs.size() + data.size(), 4);
    Put(s, properties.size(), 4);
    PutBytes(s, pairs.data(), pairs.size());
    PutBytes(s, data.data(), data.size());
    return s;
}

Bytes Summary(const std::string& title, const std::string& author, const std::string& lastAuthor, u64 created,
              u64 saved) {
    std::vector<Property> p = {{1, 2, "", 1252}};
    if (!title.empty()) p.push_back({2, 30, title});
    if (!author.empty()) p.push_back({4, 30, author});
    if (!lastAuthor.empty()) p.push_back({8, 30, lastAuthor});
    if (created != 0) p.push_back({12, 64, "", created});
    if (saved != 0) p.push_back({13, 64, "", saved});
    return PropertySet(kSummaryInformationId, p);
}

Bytes Directory(const std::vector<std::string>& names) {
    Bytes d = DirectoryEntry("Root Entry", 5, names.empty() ? kFree : 1, kFree, kEnd, 0, nullptr);
    for (size_t k = 0; k < names.size(); ++k) {
        const Bytes e = DirectoryEntry(names[k], 2, kFree, k + 1 < names.size() ? static_cast<u32>(k + 2) : kFree, kEnd,
                                       0, nullptr);
        PutBytes(d, e.data(), e.size());
    }
    Pad(d, 1024);
    return d;
}

Bytes CompoundFile(const std::vector<Stream>& streams, const CompoundOptions& options) {
    const u32 s = options.version == 4 ? 4096 : 512;
    const u32 perFat = s / 4;
    u32 dataSectors = 0;
    for (const Stream& st : streams) dataSectors += static_cast<u32>((st.data.size() + s - 1) / s);
    const u32 dirSectors = static_cast<u32>((128 * (streams.size() + 1) + s - 1) / s);
    u32 fats = 1, difats = 0;
    for (;;) {
        difats = fats > 109 ? (fats - 109 + perFat - 2) / (perFat - 1) : 0;
        if (u64{fats} * perFat >= u64{fats} + difats + dataSectors + dirSectors) break;
        ++fats;
    }
    // Sector numbers of the FAT and DIFAT sectors.
    std::vector<u32> fatAt, difatAt;
    u32 next = 0;
    if (options.difatFirst) {
        for (u32 k = 0; k < difats; ++k) difatAt.push_back(next++);
    }
    for (u32 k = 0; k < fats; ++k) fatAt.push_back(next++);
    std::vector<u32> fat(u64{fats} * perFat, kFree);
    for (u32 f : fatAt) fat[f] = kFatSector;
    for (u32 d : difatAt) fat[d] = kDifatSector;  // those placed first; the others after the streams
    std::vector<u32> starts;
    Bytes body;
    for (const Stream& st : streams) {
        const u32 count = static_cast<u32>((st.data.size() + s - 1) / s);
        starts.push_back(count == 0 ? kEnd : next);
        for (u32 k = 0; k < count; ++k, ++next) fat[next] = k + 1 < count ? next + 1 : kEnd;
        PutBytes(body, st.data.data(), st.data.size());
        Pad(body, s);
    }
    if (!options.difatFirst) {
        for (u32 k = 0; k < difats; ++k) {
            fat[next] = kDifatSector;
            difatAt.push_back(next++);
        }
    }
    const u32 firstDirectory = next;
    for (u32 k = 0; k < dirSectors; ++k, ++next) fat[next] = k + 1 < dirSectors ? next + 1 : kEnd;
    Bytes dir = DirectoryEntry("Root Entry", 5, streams.empty() ? kFree : 1, kFree, kEnd, 0, options.rootClass);
    for (size_t k = 0; k < streams.size(); ++k) {
        const Bytes e = DirectoryEntry(streams[k].name, 2, kFree,
                                       k + 1 < streams.size() ? static_cast<u32>(k + 2) : kFree, starts[k],
                                       streams[k].data.size(), nullptr);
        PutBytes(dir, e.data(), e.size());
    }
    dir.resize(u64{dirSectors} * s, 0);

    Bytes file;
    const unsigned char magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    PutBytes(file, magic, 8);
    file.resize(24, 0);
    Put(file, 0x3E, 2);
    Put(file, options.version, 2);
    Put(file, 0xFFFE, 2);
    Put(file, options.version == 4 ? 12 : 9, 2);
    Put(file, 6, 2);
    file.resize(40, 0);
    Put(file, options.version == 4 ? dirSectors : 0, 4);
    Put(file, fats, 4);
    Put(file, firstDirectory, 4);
    Put(file, 0, 4);
    Put(file, 4096, 4);
    Put(file, kEnd, 4);
    Put(file, 0, 4);
    Put(file, difats == 0 ? kEnd : difatAt[0], 4);
    Put(file, difats, 4);
    for (u32 k = 0; k < 109; ++k) Put(file, k < fats ? fatAt[k] : kFree, 4);
    file.resize(s, 0);
    // The sectors in number order: FAT and DIFAT, then the data and the directory.
    Bytes sectors(u64{next} * s, 0);
    for (u32 k = 0; k < fats; ++k) {
        ByteWriter w(sectors.data() + u64{fatAt[k]} * s, s);
        for (u32 e = 0; e < perFat; ++e) w.Le32(4 * e, fat[u64{k} * perFat + e]);
    }
    const u64 dataAt = u64{fats + (options.difatFirst ? difats : 0)} * s;
    memcpy(sectors.data() + dataAt, body.data(), body.size());
    memcpy(sectors.data() + u64{firstDirectory} * s, dir.data(), dir.size());
    for (u32 k = 0; k < difats; ++k) {
        ByteWriter w(sectors.data() + u64{difatAt[k]} * s, s);
        for (u32 e = 0; e + 1 < perFat; ++e) {
            const u64 index = 109 + u64{k} * (perFat - 1) + e;
            w.Le32(4 * e, index < fats ? fatAt[index] : kFree);
        }
        w.Le32(4 * (perFat - 1), k + 1 < difats ? difatAt[k + 1] : kEnd);
    }
    PutBytes(file, sectors.data(), sectors.size());
    return file;
}

Bytes RawDeflate(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, text.size()) + 16);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes Zip(const std::vector<ZipEntry>& entries) {
    Bytes file, central;
    for (const ZipEntry& e : entries) {
        const Bytes data = e.deflate ? RawDeflate(std::string(e.data.begin(), e.data.end())) : e.data;
        const u32 crc = static_cast<u32>(crc32(0, e.data.data(), static_cast<uInt>(e.data.size())));
        const u32 offset = static_cast<u32>(file.size());
        const u16 flags = e.descriptor ? 0x0008 : 0;
        const u16 method = e.deflate ? 8 : 0;
        auto header = [&](Bytes& b, bool local) {
            Put(b, local ? 0x04034B50 : 0x02014B50, 4);
            if (!local) Put(b, 20, 2);
            Put(b, 20, 2);
            Put(b, flags, 2);
            Put(b, method, 2);
            Put(b, 0, 2);
            Put(b, 0x21, 2);
            const bool hidden = local && e.descriptor;
            Put(b, hidden ? 0 : crc, 4);
            Put(b, hidden ? 0 : e.zip64 ? 0xFFFFFFFF : data.size(), 4);
            Put(b, hidden ? 0 : e.zip64 ? 0xFFFFFFFF : e.data.size(), 4);
            Put(b, e.name.size(), 2);
            Put(b, e.zip64 && local ? 20 : 0, 2);
            if (!local) {
                Put(b, 0, 2);
                Put(b, 0, 2);
                Put(b, 0, 2);
                Put(b, 0, 4);
                Put(b, offset, 4);
            }
            PutBytes(b, e.name.data(), e.name.size());
            if (e.zip64 && local) {
                Put(b, 1, 2);
                Put(b, 16, 2);
                Put(b, e.data.size(), 8);
                Put(b, data.size(), 8);
            }
        };
        header(file, true);
        PutBytes(file, data.data(), data.size());
        if (e.descriptor) {
            Put(file, 0x08074B50, 4);
            Put(file, crc, 4);
            Put(file, data.size(), 4);
            Put(file, e.data.size(), 4);
        }
        header(central, false);
    }
    const u32 centralAt = static_cast<u32>(file.size());
    PutBytes(file, central.data(), central.size());
    Put(file, 0x06054B50, 4);
    Put(file, 0, 4);
    Put(file, entries.size(), 2);
    Put(file, entries.size(), 2);
    Put(file, central.size(), 4);
    Put(file, centralAt, 4);
    Put(file, 0, 2);
    return file;
}

std::string CoreXml(const std::string& title, const std::string& creator, const std::string& lastModifiedBy,
                    const std::string& modified) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
           "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\">"
           "<dc:title>" + title + "</dc:title><dc:creator>" + creator + "</dc:creator><cp:lastModifiedBy>" +
           lastModifiedBy + "</cp:lastModifiedBy><dcterms:created>2001-02-03T04:05:06Z</dcterms:created>"
           "<dcterms:modified>" + modified + "</dcterms:modified></cp:coreProperties>";
}

Bytes Pdf(size_t bodyBytes, const std::string& info, unsigned seed, int endAt) {
    std::mt19937 rng(seed);
    std::string text = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    static const char* kWords[] = {"stream", "q", "BT", "Tf", "ET", "re", "f", "cm", "Tj", "endstream"};
    while (text.size() < bodyBytes) {
        text += kWords[rng() % 10];
        text += (rng() % 8 == 0) ? "\n" : " ";
    }
    const std::string tail = "\n7 0 obj\n<< " + info + " >>\nendobj\ntrailer\n<< /Info 7 0 R >>\nstartxref\n123\n%%EOF\n";
    if (endAt >= 0) text.append((static_cast<size_t>(endAt) + 512 * 4 - (text.size() + tail.size()) % 512) % 512, ' ');
    text += tail;
    return Bytes(text.begin(), text.end());
}

Bytes Random(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<unsigned char>(rng());
    return b;
}

Bytes Place(const std::vector<std::pair<size_t, Bytes>>& files, size_t sectors, unsigned sectorSize) {
    Bytes image(sectors * sectorSize, 0);
    for (const auto& [sector, bytes] : files) {
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(sector * sectorSize));
    }
    return image;
}

std::vector<rawtest::Received> Carve(const Bytes& image, rawtest::RecordingTreeBuilder& builder, unsigned sectorSize,
                                     int blockSectors) {
    rawtest::MemoryDevice device(image, sectorSize);
    CRAWSearchController controller;
    controller.SetDevice(&device);
    controller.SetBlockSize(blockSectors);
    controller.SetDirecotryTreeBuilder(&builder);
    if (controller.PreparetoSearch() != 1) return {};
    for (i64 s = 0; s < device.GetTotalSectors(); s += blockSectors) {
        controller.AnalyzeBlock(s, std::min<i64>(blockSectors, device.GetTotalSectors() - s));
    }
    controller.EndSearch(1);
    return builder.Files();
}

// The size and type the guessing record gives a file planted at sector 4, and its name.
std::string WhileReading(IRawFileAnalyser& analyser, const Bytes& file, std::string* name) {
    const Bytes image = Place({{4, file}}, 4 + file.size() / 512 + 80);
    CRawFileInfo accepted;
    if (analyser.AnalyseBuffer(const_cast<unsigned char*>(image.data()) + 4 * 512, accepted) != 1) return "refused";
    std::unique_ptr<CRawFileInfo> record(analyser.CreateRawFileInfo());
    record->m_startSector = 4;
    record->m_type = accepted.m_type;
    const i64 end = Drive(*record, image);
    if (name != nullptr) *name = record->GetRawFileName();
    return (end < 0 ? std::string("open ") : std::string()) + std::to_string(record->m_size) + " " +
           RawFileExtension(record->m_type);
}

i64 Drive(CRawFileInfo& record, const Bytes& image, unsigned sectorSize, i64 blockSectors) {
    const i64 n = sectorSize;
    const i64 total = static_cast<i64>(image.size()) / n;
    const i64 half = blockSectors * n;
    Bytes buffer(static_cast<size_t>(2 * half + 4096), 0);
    for (i64 block = 0; block < total; block += blockSectors) {
        const i64 count = std::min(blockSectors, total - block);
        memmove(buffer.data(), buffer.data() + half, static_cast<size_t>(half));
        std::fill(buffer.begin() + half, buffer.end(), 0);
        memcpy(buffer.data() + half, image.data() + block * n, static_cast<size_t>(count * n));
        CRawFileInfo::SearchContext ctx;
        ctx.bufferStartSector = block > 0 ? block - blockSectors : block;
        ctx.blockEndSector = block + count;
        for (i64 s = block; s < block + count; ++s) {
            if (s < record.m_startSector) continue;
            unsigned char* p = buffer.data() + half + (s - block) * n;
            u32 zeros = 0;
            while (zeros < 32 && ByteReader(p + n - zeros - 4, 4).Le32(0) == 0u) zeros += 4;
            ctx.trailingZeroBytes = zeros;
            ctx.leadingZero = ByteReader(p, 4).Le32(0) == 0u ? 4 : 0;
            if (record.CalcRawSize(p, sectorSize, s, ctx) == RAW_SIZE_FINISHED) return s;
        }
    }
    return -1;
}

const rawtest::Received* FileAt(const std::vector<rawtest::Received>& files, i64 sector) {
    for (const rawtest::Received& r : files) {
        DataRun* run = static_cast<CRAWFileNode*>(r.node)->GetDataRunList()->GetFirst();
        if (run != nullptr && run->start == sector) return &r;
    }
    return nullptr;
}

std::string CarvedAt4(const Bytes& file, size_t* listed) {
    rawtest::RecordingTreeBuilder builder;
    const auto files = Carve(Place({{4, file}}, 4 + file.size() / 512 + 40), builder);
    *listed = 0;
    for (const auto& f : files) *listed += f.directory ? 0 : 1;
    const rawtest::Received* found = FileAt(files, 4);
    if (found == nullptr) return "not found";
    return std::to_string(found->size) + " " + found->name.substr(found->name.rfind('.') + 1);
}

}  // namespace officetest
