// The constants of the text, mail, database, archive and installer analysers' rules, as one table, and
// every signature row of these analysers has its factory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "OfficeTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/CMDBAnalyser.h"
#include "engine/RAWSearch/Analysers/DMGAnalyser.h"
#include "engine/RAWSearch/Analysers/DbxAnalyser.h"
#include "engine/RAWSearch/Analysers/FileMboxAnalyser.h"
#include "engine/RAWSearch/Analysers/FilePKGAnalyser.h"
#include "engine/RAWSearch/Analysers/GZAnalyser.h"
#include <zlib.h>
#include "engine/RAWSearch/Analysers/MOBIAnalyser.h"
#include "engine/RAWSearch/Analysers/OneAnalyser.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Analysers/LZHAnalyser.h"
#include "engine/RAWSearch/Analysers/RARAnalyser.h"
#include "engine/RAWSearch/Analysers/SITAnalyser.h"
#include "engine/RAWSearch/Analysers/SQLiteAnalyser.h"
#include "engine/RAWSearch/Analysers/TARAnalyser.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"
#include "engine/RAWSearch/Analysers/TextAnalysers.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using namespace officetest;
using rawtest::MemoryDevice;

namespace {

std::string Type(RAW_FILE_TYPE type) { return RawFileExtension(type); }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Text of exactly n bytes: head, filler lines, tail.
Bytes TextOf(size_t n, const std::string& head, const std::string& tail) {
    std::string s = head;
    while (s.size() + tail.size() < n) s += "word ";
    s.resize(n - tail.size(), ' ');
    return Text(s + tail);
}

Bytes Utf16(const std::string& s, bool bom = true) {
    Bytes b;
    if (bom) b = {0xFF, 0xFE};
    for (char c : s) {
        b.push_back(static_cast<unsigned char>(c));
        b.push_back(0);
    }
    return b;
}

// The size and type the device gives a file planted at sector 4 of an image, with bytes after it.
std::string FromDevice(IRawFileAnalyser& analyser, const Bytes& file, const Bytes& after = {}) {
    Bytes both = file;
    both.insert(both.end(), after.begin(), after.end());
    MemoryDevice device(Place({{4, both}}, 4 + both.size() / 512 + 40), 512);
    CRawFileInfo info;
    info.m_startSector = 4;
    info.m_type = static_cast<RAW_FILE_TYPE>(analyser.GetDefaultType());
    if (!analyser.GetRawFileSize(info, &device)) return "refused " + std::to_string(info.m_size);
    return std::to_string(info.m_size) + " " + Type(info.m_type);
}

std::string Accepts(IRawFileAnalyser& analyser, Bytes sector) {
    sector.resize(512, 0);
    CRawFileInfo info;
    return analyser.AnalyseBuffer(sector.data(), info) == 1 ? Type(info.m_type) : "refused";
}

// A SQLite database of 4096-byte pages: page 1 with its header, b-tree leaf pages up to `leaves`, then
// `free` free-list pages (a trunk page and empty leaves) at its end.
Bytes Sqlite(u32 pages, u32 leaves, u32 free, u32 encoding = 1) {
    Bytes f(4096 * static_cast<size_t>(pages), 0);
    memcpy(f.data(), "SQLite format 3", 16);
    ByteWriter w(f.data(), f.size());
    w.Be16(16, 4096);
    w.Be32(28, pages);
    w.Be32(36, free);
    w.Be32(56, encoding);
    f[100] = 13;
    w.Be16(103, 1);
    w.Be16(105, 3000);
    w.Be16(108, 3600);
    for (u32 i = 1; i < leaves; ++i) {
        f[4096 * i] = 13;
        f[4096 * i + 100] = 'd';
    }
    if (free > 0) w.Be32(4096 * static_cast<size_t>(leaves) + 4, free - 1);  // the trunk's leaf count
    return f;
}

// A StuffIt X archive: the header, data, one end marker (of the given kind) and 6 more bytes.
Bytes StuffItX(size_t data, u8 kind) {
    Bytes f = Random(data, 21);
    memcpy(f.data(), "StuffIt!", 8);
    const unsigned char marker[] = {0x02, 0xD7, 0x0A, kind, 0x98, 0xF6, 0x42, 0x88, 1, 2, 3, 4, 5, 6};
    f.insert(f.end(), marker, marker + sizeof(marker));
    return f;
}

// A compressed disk image: the bzip2 stream's start, data, and the 512-byte trailer.
Bytes DiskImage(size_t data) {
    Bytes f = Random(data, 22);
    memcpy(f.data(), "BZh11AY&SY", 10);
    Bytes trailer(512, 0);
    memcpy(trailer.data(), "koly", 4);
    ByteWriter(trailer.data(), trailer.size()).Be32(4, 4);
    ByteWriter(trailer.data(), trailer.size()).Be32(8, 512);
    f.insert(f.end(), trailer.begin(), trailer.end());
    return f;
}

// A tar archive as tar writes it: ustar headers (GNU magic when gnu), data in whole records, two zero
// records, padding to 20 records. An entry's type '5' is a folder (no data).
struct TarEntry {
    std::string name;
    Bytes data;
    char type = '0';
};
Bytes Tar(const std::vector<TarEntry>& entries, bool gnu = false, bool pad = true) {
    Bytes out;
    for (const TarEntry& e : entries) {
        unsigned char h[512] = {};
        memcpy(h, e.name.data(), std::min<size_t>(e.name.size(), 100));
        snprintf(reinterpret_cast<char*>(h) + 100, 8, "%07o", e.type == '5' ? 0755 : 0644);
        snprintf(reinterpret_cast<char*>(h) + 124, 12, "%011zo", e.data.size());
        snprintf(reinterpret_cast<char*>(h) + 136, 12, "%011o", 1500000000);
        h[156] = static_cast<unsigned char>(e.type);
        memcpy(h + 257, gnu ? "ustar  " : "ustar\0" "00", 8);
        memset(h + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : h) sum += c;
        snprintf(reinterpret_cast<char*>(h) + 148, 8, "%06o", sum);
        out.insert(out.end(), h, h + 512);
        out.insert(out.end(), e.data.begin(), e.data.end());
        out.resize((out.size() + 511) / 512 * 512, 0);
    }
    out.resize(out.size() + 1024, 0);
    if (pad) out.resize((out.size() + 10239) / 10240 * 10240, 0);
    return out;
}

// A first sector with the given bytes at their offsets.
Bytes SectorWith(std::initializer_list<std::pair<size_t, std::string>> parts) {
    Bytes b(512, 0);
    for (const auto& [at, text] : parts) memcpy(b.data() + at, text.data(), text.size());
    return b;
}

std::string SizedBy(IRawFileAnalyser& analyser, const Bytes& sector) {
    Bytes s = sector;
    s.resize(512, 0);
    CRawFileInfo info;
    if (analyser.AnalyseBuffer(s.data(), info) != 1) return "refused";
    return std::to_string(info.m_size) + " " + Type(info.m_type);
}

Bytes Le32At(Bytes b, size_t at, u32 v) {
    ByteWriter(b.data(), b.size()).Le32(at, v);
    return b;
}

// A RAR 4 archive: marker, main header, one file header per entry with its data, the end block.
Bytes Rar(const std::vector<Bytes>& files, bool endBlock = true) {
    Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    const unsigned char main[13] = {0x90, 0xCF, 0x73, 0x00, 0x00, 13, 0, 0, 0, 0, 0, 0, 0};
    out.insert(out.end(), main, main + 13);
    int n = 0;
    for (const Bytes& data : files) {
        const std::string name = "file" + std::to_string(n++) + ".bin";
        Bytes h(32 + name.size(), 0);
        ByteWriter w(h.data(), h.size());
        h[2] = 0x74;
        w.Le16(3, 0x8000);
        w.Le16(5, static_cast<u16>(h.size()));
        w.Le32(7, static_cast<u32>(data.size()));
        w.Le32(11, static_cast<u32>(data.size()));
        h[15] = 2;
        h[24] = 29;
        h[25] = 0x30;
        w.Le16(26, static_cast<u16>(name.size()));
        memcpy(h.data() + 32, name.data(), name.size());
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), data.begin(), data.end());
    }
    if (endBlock) out.insert(out.end(), rar_layout::kEndBlock, rar_layout::kEndBlock + 7);
    return out;
}

// An LHA archive of the given level: one header per entry (method, data), then the closing zero byte.
struct LhaEntry {
    const char* method;
    Bytes data;
    std::string name = "a.txt";
};
Bytes Lha(const std::vector<LhaEntry>& entries, int level) {
    Bytes out;
    for (const LhaEntry& e : entries) {
        Bytes h(level == 2 ? 26 : 24 + e.name.size(), 0);
        ByteWriter w(h.data(), h.size());
        if (level == 2) {
            w.Le16(0, static_cast<u16>(h.size()));
        } else {
            h[0] = static_cast<unsigned char>(h.size() - 2);
            h[21] = static_cast<unsigned char>(e.name.size());
            memcpy(h.data() + 22, e.name.data(), e.name.size());
        }
        memcpy(h.data() + 2, e.method, 5);
        w.Le32(7, static_cast<u32>(e.data.size()));
        w.Le32(11, static_cast<u32>(e.data.size() * 2));
        h[20] = static_cast<unsigned char>(level);
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    out.push_back(0);
    return out;
}

// A xar archive whose table of contents is xml (compressed with zlib), then heapBytes of heap.
Bytes Xar(const std::string& xml, size_t heapBytes) {
    uLongf packedLength = compressBound(xml.size());
    Bytes packed(packedLength);
    compress2(packed.data(), &packedLength, reinterpret_cast<const Bytef*>(xml.data()), xml.size(), 9);
    packed.resize(packedLength);
    Bytes out(28, 0);
    ByteWriter w(out.data(), out.size());
    memcpy(out.data(), "xar!", 4);
    w.Be16(4, 28);
    w.Be16(6, 1);
    w.Be64(8, packed.size());
    w.Be64(16, xml.size());
    out.insert(out.end(), packed.begin(), packed.end());
    const Bytes heap = Random(heapBytes, 13);
    out.insert(out.end(), heap.begin(), heap.end());
    return out;
}

std::string XarToc(const std::string& files) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar><toc><checksum style=\"sha1\"><offset>0</offset>"
           "<size>20</size></checksum><creation-time>2020-01-01T00:00:00</creation-time>" + files + "</toc></xar>";
}

std::string XarFile(int id, u64 offset, u64 length, const std::string& inner = "") {
    return "<file id=\"" + std::to_string(id) + "\"><data><length>" + std::to_string(length) + "</length><offset>" +
           std::to_string(offset) + "</offset><size>" + std::to_string(length) + "</size></data><name>f" +
           std::to_string(id) + "</name>" + inner + "</file>";
}

}  // namespace

TEST(StoreRules, ConstantsOfTheNotes) {
    RawSpeed::RTFAnalyser rtf;
    RawSpeed::HTMLAnalyser html;
    RawSpeed::JKSAnalyser jks;
    RawSpeed::PSAFE3Analyser psafe;
    RawSpeed::SIBAnalyser sib;
    FileRTFAnalyser rtfDevice;
    FileHTMAnalyser htmlDevice;
    FileUnicodeHTMAnalyser utf16Device;
    // 1280 bytes: the last sector holds 256 bytes (bisection lands on the zero run's start), 1124: 100
    // bytes (lands on it too), 1025: one byte (lands one past it).
    const Bytes rtf1280 = TextOf(1280, "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}", "}");
    const Bytes rtf1124 = TextOf(1124, "{\\rtf1\\ansi ", "}");
    const Bytes rtf1025 = TextOf(1025, "{\\rtf1\\ansi ", "}");
    const Bytes bigHtml = TextOf(0x100000 + 3000, "<html><body>", "</body></html>\n");
    const Bytes page = TextOf(3000, "<!DOCTYPE html>\n<html><body>", "</body></html>\n");
    const Bytes utf16 = Utf16("<html><body>" + std::string(700, 'x') + "</body></html>\r\n");
    const Bytes utf16Doctype = Utf16("<!DOCTYPE html>\n<html><body>x</body></HTML>");
    const Bytes noise = Random(1500, 9);
    RawSpeed::TARAnalyser tar;
    FileTARAnalyser tarDevice;
    const Bytes folderFirst = Tar({{"dir/", {}, '5'}, {"dir/a.txt", Random(700, 1)}, {"dir/empty", {}}, {"dir/b", Random(30000, 2)}});
    const std::string longName = "d/" + std::string(120, 'n');
    const Bytes gnuLong = Tar({{"././@LongLink", Bytes(longName.begin(), longName.end() + 1), 'L'}, {longName.substr(0, 99), Random(900, 3)}}, true);
    const Bytes unpadded = Tar({{"f.bin", Random(1000, 4)}}, false, false);
    std::string rtfName;

    struct Row {
        const char* constant;
        std::function<std::string()> actual;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"RTF: byte 4 must be f", [&] { return Accepts(rtf, Text("{\\rtx1")); }, "refused"},
        {"RTF, 256 bytes in its last sector: ends at its last byte",
         [&] { return WhileReading(rtf, rtf1280, &rtfName); }, "1280 RTF"},
        {"  ... named by its first and last sector", [&] { return rtfName; }, "4-6_"},
        {"RTF, 100 bytes in its last sector", [&] { return WhileReading(rtf, rtf1124); }, "1124 RTF"},
        {"RTF, one byte in its last sector", [&] { return WhileReading(rtf, rtf1025); }, "1025 RTF"},
        {"RTF from the device: ends after the brace closing the first group",
         [&] { return FromDevice(rtfDevice, Text("{\\rtf1{a}{b{c}}}trailing text"), noise); }, "16 RTF"},
        {"  ... a group following at once continues the file",
         [&] { return FromDevice(rtfDevice, Text("{\\rtf1{a}}{\\b x}tail"), noise); }, "16 RTF"},
        {"  ... never closed: the read failure ends the walk, refused with the offset reached",
         [&] { return FromDevice(rtfDevice, TextOf(2000, "{\\rtf1{{{", "x")); }, "refused 66048"},
        {"HTML: <html, <!DOCTYPE html in any case", [&] { return Accepts(html, Text("<HtMl>")) +
                                                              Accepts(html, Text("<!doctype HTML>")); }, "HTMHTM"},
        {"  ... FF FE with <HTML> or <! in UTF-16LE", [&] { return Accepts(html, Utf16("<Html>")) +
                                                                 Accepts(html, Utf16("<!-")); }, "HTMHTM"},
        {"  ... not <head>", [&] { return Accepts(html, Text("<head>")) + Accepts(html, Utf16("<head>")); },
         "refusedrefused"},
        {"HTML ending in zeros", [&] { return WhileReading(html, page); }, "3000 HTM"},
        {"HTML beyond 1 MiB is sized whole by the guessing record",
         [&] { return WhileReading(html, bigHtml); }, std::to_string(0x100000 + 3000) + " HTM"},
        {"HTML from the device: the closing tag and its line end, not the next sector",
         [&] {
             Bytes after(3072 - page.size(), 0);
             after.resize(after.size() + 300, 'z');
             return FromDevice(htmlDevice, page, after);
         },
         "3000 HTM"},
        {"HTML from the device: the text after the closing tag up to the zeros",
         [&] { return FromDevice(htmlDevice, Text(std::string(reinterpret_cast<const char*>(page.data()), page.size()) + "<!-- x -->\n")); },
         "3011 HTM"},
        {"HTML from the device beyond 1 MiB", [&] { return FromDevice(htmlDevice, bigHtml); }, std::to_string(0x100000 + 3000) + " HTM"},
        {"UTF-16 HTML: FF FE < 00 taken", [&] { return Accepts(utf16Device, Utf16("<head>")); }, "HTM"},
        {"UTF-16 HTML from the device: 16 bytes from the closing tag's start",
         [&] { return FromDevice(utf16Device, utf16, Random(600, 3)); }, std::to_string(2 + 2 * (12 + 700 + 7) + 16) + " HTM"},
        {"  ... <HTML> after a doctype", [&] { return FromDevice(utf16Device, utf16Doctype, Random(600, 3)); },
         std::to_string(utf16Doctype.size() + 2) + " HTM"},
        {"  ... a zero character ends it there", [&] { return FromDevice(utf16Device, Utf16("<html><b>text")); },
         std::to_string(Utf16("<html><b>text").size()) + " HTM"},
        {"  ... no <HTML> near the start: refused", [&] { return FromDevice(utf16Device, Utf16("<head>hello")); },
         "refused 0"},
        {"tar: a folder first is walked whole, not cut after its header", [&] { return WhileReading(tar, folderFirst); },
         std::to_string(folderFirst.size()) + " TAR"},
        {"  ... from the device", [&] { return FromDevice(tarDevice, folderFirst); }, std::to_string(folderFirst.size()) + " TAR"},
        {"  ... followed at once by other data: ends at its last record",
         [&] { return FromDevice(tarDevice, folderFirst, noise); }, std::to_string(folderFirst.size()) + " TAR"},
        {"  ... while the search reads on", [&] { return WhileReading(tar, [&] { Bytes b = folderFirst; b.insert(b.end(), noise.begin(), noise.end()); return b; }()); },
         std::to_string(folderFirst.size()) + " TAR"},
        {"tar, GNU long name", [&] { return WhileReading(tar, gnuLong) + " / " + FromDevice(tarDevice, gnuLong); },
         std::to_string(gnuLong.size()) + " TAR / " + std::to_string(gnuLong.size()) + " TAR"},
        {"tar without padding, then data: the two zero records end it",
         [&] { return FromDevice(tarDevice, unpadded, noise); }, std::to_string(unpadded.size()) + " TAR"},
        {"tar without its zero records, then data: ends at the first record that is no header",
         [&] { return FromDevice(tarDevice, Bytes(unpadded.begin(), unpadded.end() - 1024), noise); },
         std::to_string(unpadded.size() - 1024) + " TAR"},
        {"tar: ustar at 257 wanted", [&] { return Accepts(tar, Bytes(512, 'u')); }, "refused"},
        {"octal sizes: 11 digits, a non-digit counts 0", [] {
             return std::to_string(OctStringToint("00000001750 ")) + " " + std::to_string(OctStringToint("0000000x750\0")) +
                    " " + std::to_string(OctStringToint("77777777777"));
         }, "1000 488 8589934591"},
        {"a cabinet with a zero size field is refused", [] {
             FileCABAnalyser cab;
             const Bytes h = SectorWith({{0, "MSCF"}, {24, std::string("\x03\x01", 2)}});
             return SizedBy(cab, h) + " / " + SizedBy(cab, Le32At(h, 8, 70000)) + " / " +
                    SizedBy(cab, Le32At(Le32At(h, 8, 70000), 12, 1));
         }, "refused / 70000 CAB / refused"},
        {"PST: Unicode size at 184, ANSI at 168 (low 32 bits), others 0x100000", [] {
             FilePSTAnalyser pst;
             Bytes h = SectorWith({{0, "!BDN"}});
             ByteWriter(h.data(), h.size()).Le64(184, 0x100012345ULL);
             ByteWriter(h.data(), h.size()).Le32(168, 7777);
             Bytes unicode = h, ansi = h, other = h;
             unicode[10] = 23;
             ansi[10] = 14;
             other[10] = 15;
             return SizedBy(pst, unicode) + " / " + SizedBy(pst, ansi) + " / " + SizedBy(pst, other);
         }, "74565 PST / 7777 PST / 1048576 PST"},
        {"WordPerfect: the kind words give WPD, WPG or SHW, the size at 20; no kind: refused", [] {
             FileWPDAnalyser wpd;
             const Bytes h = Le32At(SectorWith({{0, "\xFFWPC"}}), 20, 4321);
             auto kind = [&](const char* a, const char* b) {
                 Bytes k = h;
                 memcpy(k.data() + 8, a, 4);
                 memcpy(k.data() + 14, b, 4);
                 return SizedBy(wpd, k);
             };
             return kind("\x01\x0A\x02\x01", "\x00\x02\x05\x00") + " / " + kind("\x01\x16\x02\x00", "\x00\x00\x03\x00") +
                    " / " + kind("\x0F\x0F\x01\x00", "\x00\x00\x03\x00") + " / " + kind("\x01\x0A\x02\x02", "\x00\x02\x05\x00");
         }, "4321 WPD / 4321 WPG / 4321 SHW / refused"},
        {"Money 0x100000; low DOC from its compound sectors or its text end", [] {
             FileMNYAnalyser mny;
             FileLowDocAnalyser doc;
             const Bytes compound = Le32At(SectorWith({{0, "\xD0\xCF\x11\xE0"}}), 48, 3);
             const Bytes word = Le32At(Le32At(SectorWith({{0, "\xDB\xA5\x2D"}}), 292, 1000), 296, 30);
             return SizedBy(mny, SectorWith({{0, std::string("\0\1\0\0", 4)}, {4, "MSISAM Database"}})) + " / " +
                    SizedBy(mny, SectorWith({{0, "MSISAM Database"}})) + " / " + SizedBy(doc, compound) + " / " + SizedBy(doc, word);
         }, "1048576 MNY / refused / 4096 DOC / 1536 DOC"},
        {"EMLX: the count of the first 10 bytes + 402, only with X-QQ-FEAT: at 11", [] {
             FileEMLXAnalyser emlx;
             return SizedBy(emlx, SectorWith({{0, "1234      \nX-QQ-FEAT: x"}})) + " / " +
                    SizedBy(emlx, SectorWith({{0, "      1234\nX-QQ-FEAT: x"}})) + " / " +
                    SizedBy(emlx, SectorWith({{0, "1234      \nX-Mailer: x"}}));
         }, "1636 EMLX / 1636 EMLX / refused"},
        {"compiled help: the size at 104; Windows help: at least 512 and not below its directory", [] {
             FileCHMAnalyser chm;
             FileHLPAnalyser hlp;
             Bytes c = SectorWith({{0, "ITSF"},
                                   {24, "\x10\xFD\x01\x7C\xAA\x7B\xD0\x11\x9E\x0C"},
                                   {34, std::string("\x00\xA0\xC9\x22\xE6\xEC", 6)},
                                   {40, "\x11\xFD\x01\x7C\xAA\x7B\xD0\x11\x9E\x0C"},
                                   {50, std::string("\x00\xA0\xC9\x22\xE6\xEC", 6)}});
             ByteWriter(c.data(), c.size()).Le32(8, 96);
             ByteWriter(c.data(), c.size()).Le32(96, 0x1FE);
             ByteWriter(c.data(), c.size()).Le64(104, 123456);
             const Bytes h = SectorWith({{0, "\x3F\x5F\x03"}});
             return SizedBy(chm, c) + " / " + SizedBy(chm, Le32At(c, 8, 95)) + " / " +
                    SizedBy(hlp, Le32At(Le32At(h, 4, 600), 12, 5000)) + " / " + SizedBy(hlp, Le32At(Le32At(h, 4, 6000), 12, 5000)) +
                    " / " + SizedBy(hlp, Le32At(h, 12, 511));
         }, "123456 CHM / refused / 5000 HLP / refused / refused"},
        {"EMLX is made only by the list by type, in process", [] {
             RawAnalyserList list;
             CRawFileAnalyserListSingle::CraetePartRawFileAnalyser(116, list);
             const std::string got = list.size() == 1 ? Type(static_cast<RAW_FILE_TYPE>(list.front()->GetDefaultType())) : "none";
             CRawFileAnalyserListSingle::ClearListContents(list);
             return got;
         }, "EMLX"},
        {"RAR: the 7-byte end block is included while the search reads on and from the device", [] {
             RawSpeed::RARAnalyser rar;
             FileRARAnalyser rarDevice;
             const Bytes a = Rar({Random(1500, 1), Random(300, 2), Random(2000, 3)});
             return WhileReading(rar, a) + " / " + FromDevice(rarDevice, a, Random(700, 4)) + " / " + std::to_string(a.size());
         }, "3950 RAR / 3950 RAR / 3950"},
        {"RAR without the end block: never finished while reading on; the device ends it after the last block", [] {
             RawSpeed::RARAnalyser rar;
             FileRARAnalyser rarDevice;
             const Bytes a = Rar({Random(1500, 1)}, false);
             return WhileReading(rar, a) + " / " + FromDevice(rarDevice, a);
         }, "open 0 RAR / 1561 RAR"},
        {"RAR block rules: 0x79 and short headers refused, end block refused as a block", [] {
             auto size = [](std::initializer_list<unsigned char> b) {
                 Bytes block(b);
                 block.resize(32, 0);
                 unsigned low = 0, high = 0;
                 return classRarSearch::GetBlockSize(block.data(), 32, &low, &high) ? std::to_string(low) : "no";
             };
             return size({0, 0, 0x79, 0, 0, 20, 0}) + " " + size({0, 0, 0x76, 0, 0, 6, 0}) + " " +
                    size({0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00}) + " " + size({0, 0, 0x75, 0, 0, 9, 0, 100, 0}) + " " +
                    size({0, 0, 0x73, 0, 0, 9, 0}) + " " + size({0, 0, 0x77, 0, 0, 20, 0, 5, 0, 0, 0, 0, 0, 1});
         }, "no no no 109 no no"},
        {"LHA level 0/1: 2 + the size byte a header, then one closing byte; the device rounds to sectors", [] {
             Brance::LZHAnalyser lzh;
             FileLZHAnalyser lzhDevice;
             const Bytes a = Lha({{"-lh0-", Random(600, 1)}, {"-lh5-", Random(1000, 2)}, {"-lhd-", {}, "d/"}}, 0);
             return WhileReading(lzh, [&] { Bytes b = a; const Bytes r = Random(900, 3); b.insert(b.end(), r.begin(), r.end()); return b; }()) +
                    " / " + FromDevice(lzhDevice, a) + " / " + std::to_string(a.size());
         }, "1685 LZH / 2048 LZH / 1685"},
        {"LHA level 2 headers (no extra 2 bytes) are walked; -lh7- taken by the guessing analyser only", [] {
             Brance::LZHAnalyser lzh;
             FileLZHAnalyser lzhDevice;
             const Bytes a = Lha({{"-lh7-", Random(600, 1)}, {"-lh5-", Random(1000, 2)}}, 2);
             return WhileReading(lzh, a) + " / " + Accepts(lzhDevice, a);
         }, "1653 LZH / refused"},
        {"gzip: the device steps over extra field, name, comment and header CRC; the stored name names the file", [] {
             FileGZAnalyser gzDevice;
             Bytes g = {0x1F, 0x8B, 0x08, 0x1E, 0, 0, 0, 0, 2, 3, 4, 0, 'a', 'b', 'c', 'd'};
             const std::string texts = std::string("notes.txt\0hi\0", 13) + "\x12\x34";
             g.insert(g.end(), texts.begin(), texts.end());
             Bytes data = Random(2000, 6);
             data.back() = 0x55;
             g.insert(g.end(), data.begin(), data.end());
             MemoryDevice device(Place({{4, g}}, 40), 512);
             CRawFileInfo info;
             info.m_startSector = 4;
             const bool ok = gzDevice.GetRawFileSize(info, &device);
             RawSpeed::GZAnalyzer gz;
             return std::to_string(g.size()) + " " + (ok ? std::to_string(info.m_size) : "refused") + " " + info.GetRawFileName() +
                    " / " + WhileReading(gz, g) + " / " + Accepts(gzDevice, [&] { Bytes b = g; b[8] = 0; return b; }()) + " " +
                    Accepts(gz, [&] { Bytes b = g; b[8] = 0; return b; }()) + " " + Accepts(gz, [&] { Bytes b = g; b[9] = 14; return b; }());
         }, "2031 2048 notes.txt / 2039 GZ / refused GZ refused"},
        {"gzip while the search reads on: a trailer ending in zero bytes is never cut", [] {
             RawSpeed::GZAnalyzer gz;
             std::string out;
             // Lengths below 16 MiB, below 64 KiB, below 256 and an empty member (CRC and length zero).
             for (const u32 length : {0x123456u, 0x1234u, 0x12u, 0u}) {
                 Bytes g = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 3};
                 const Bytes data = Random(1000, 7);
                 g.insert(g.end(), data.begin(), data.end());
                 Bytes trailer(8, 0);
                 ByteWriter(trailer.data(), 8).Le32(0, length == 0 ? 0 : 0xCAFEF00Du);
                 ByteWriter(trailer.data(), 8).Le32(4, length);
                 g.insert(g.end(), trailer.begin(), trailer.end());
                 const std::string got = WhileReading(gz, g);
                 out += std::to_string(std::stoll(got) >= static_cast<long long>(g.size())) + " ";
             }
             return out;
         }, "1 1 1 1 "},
        {"mailbox: a unit ending in -- LF LF LF LF takes the two extra line feeds; .com> LF LF ends one too", [] {
             FileMboxAnalyser mbox;
             const Bytes a = TextOf(1200, "From a@b.com Mon Jan  1 00:00:00 2001\nSubject: x\n\n", "--\n\n\n\n");
             const Bytes b = TextOf(1300, "From a@b.com Mon Jan  1 00:00:00 2001\nSubject: x\n\n", "<x@y.com>\n\n");
             return FromDevice(mbox, a) + " / " + FromDevice(mbox, b) + " / " + Accepts(mbox, Text("Fromage"));
         }, "1200 MBOX / 1300 MBOX / refused"},
        {"mailbox: From followed by header lines; prose beginning with From is not taken", [] {
             FileMboxAnalyser mbox;
             return Accepts(mbox, Text("From - Mon Feb 03 00:00:00 2020\nX-Mozilla-Status: 0001\n")) + " " +
                    Accepts(mbox, Text("From alice@example.com Mon Feb  3 00:00:00 2020\nFrom: alice\n")) + " " +
                    Accepts(mbox, Text("From the hills, said he\nand the valleys: all of them\n")) + " " +
                    Accepts(mbox, Text("From a@b.com Mon Jan  1 00:00:00 2001 without its line end"));
         }, "MBOX MBOX refused refused"},
        {"  ... a mailbox without a closing line ends where its text runs into zeros or into data that is not text", [] {
             FileMboxAnalyser mbox;
             const Bytes mail = TextOf(1500, "From a@b.com\nSubject: x\n\n", "no end\n");
             Bytes binary = Random(1024, 9);
             binary[0] = 0x01;
             return FromDevice(mbox, mail) + " / " + FromDevice(mbox, TextOf(1536, "From a@b.com\nSubject: x\n\n", "end\n"), binary) +
                    " / " + FromDevice(mbox, [&] { Bytes m = mail; m.insert(m.end(), binary.begin(), binary.end()); return m; }());
         }, "1500 MBOX / 1536 MBOX / 1024 MBOX"},
        {"DBX: the size at 124; the variant F7 89 34 2C... ends at its zeros, named start-end.", [] {
             RawSpeed::DbxAnalyser dbx;
             Bytes h = Text("JMF6");
             h.insert(h.end(), {3, 0, 1, 0});
             h.resize(700, 'd');
             ByteWriter(h.data(), h.size()).Le32(124, 5000);
             Bytes z = {0xF7, 0x89, 0x34, 0x2C, 0xF7, 0xF0, 0xEE, 0x6D, 0xAF, 0x22, 0x89, 0xD1, 0x00, 0xFF, 0xF0, 0xB0};
             z.resize(768, 'z');
             std::string name;
             const std::string sized = WhileReading(dbx, h);
             return sized + " / " + WhileReading(dbx, z, &name) + " " + name;
         }, "5000 DBX / 768 DBX 4-5."},
        {"OneNote: a following section without the identifier ends the file exactly at its offset", [] {
             RawSpeed::OneAnalyser one;
             FileONEAnalyser oneDevice;
             auto section = [](u64 length, size_t at, size_t bytes) {
                 Bytes b = Random(bytes, static_cast<unsigned>(length));
                 memcpy(b.data(), "\xE4\x52\x5C\x7B", 4);
                 memcpy(b.data() + 4, one_layout::kIdentifierBytes, 12);
                 ByteWriter(b.data(), b.size()).Le64(196, 0);
                 ByteWriter(b.data(), b.size()).Le64(at, length);
                 return b;
             };
             Bytes f = section(1024, 196, 1024);
             const Bytes second = section(512, 100, 512);
             f.insert(f.end(), second.begin(), second.end());
             const Bytes after = Random(1000, 8);
             f.insert(f.end(), after.begin(), after.end());
             return WhileReading(one, f) + " / " + FromDevice(oneDevice, f);
         }, "1536 ONE / 1536 ONE"},
        {"MOBI: the last list entry leads to the end record, the file ends 4 bytes after it", [] {
             RawSpeed::MOBIAnalyser mobi;
             RawSpeed::FileMOBIAnalyser mobiDevice;
             Bytes f = Random(1004, 9);
             memcpy(f.data() + 60, "BOOKMOBI", 8);
             ByteWriter w(f.data(), f.size());
             w.Be32(74, 3);
             w.Be32(78, 200);
             w.Be32(86, 600);
             w.Be32(94, 1000);
             memcpy(f.data() + 1000, mobi_layout::kEndRecord, 4);
             Bytes noEnd = f;
             noEnd[1000] = 0x11;
             noEnd.back() = 0x22;
             return WhileReading(mobi, f) + " / " + FromDevice(mobiDevice, f) + " / " + WhileReading(mobi, noEnd);
         }, "1004 MOBI / 1004 MOBI / 1004 MOBI"},
        {"Access: 36 empty pages end the file at the first of them; a page of another kind at itself", [] {
             RawSpeed::CMDBAnalyser mdb;
             FileMDBAnalyser mdbDevice;
             auto db = [](const char* kind, int pages) {
                 Bytes f = Random(4096 * pages, 11);
                 memcpy(f.data(), "\x00\x01\x00\x00", 4);
                 memcpy(f.data() + 4, kind, 16);
                 for (int i = 1; i < pages; ++i) {
                     f[4096 * i] = static_cast<unsigned char>(1 + i % 9);
                     f[4096 * i + 1] = 1;
                 }
                 return f;
             };
             Bytes jet = db("Standard Jet DB", 5);
             jet.resize(jet.size() + 36 * 4096, 0);
             Bytes ace = db("Standard ACE DB", 3);
             Bytes foreign = Random(4096, 12);
             foreign[0] = 'A';
             foreign[1] = 'B';
             ace.insert(ace.end(), foreign.begin(), foreign.end());
             return WhileReading(mdb, jet) + " / " + FromDevice(mdbDevice, jet) + " / " + WhileReading(mdb, ace) + " / " +
                    FromDevice(mdbDevice, ace);
         }, "20480 MDB / 20480 MDB / 12288 ACCDB / 12288 ACCDB"},
        {"xar: last file's data at 1000, 24 bytes, a 500-byte compressed table: 1552 bytes", [] {
             return std::to_string(FilePKGAnalyser::XarSize(500, XarToc(XarFile(1, 20, 980) + XarFile(2, 1000, 24))));
         }, "1552"},
        {"  ... from the device, files nested in a folder and after it", [] {
             FilePKGAnalyser pkg;
             const std::string toc = XarToc(XarFile(1, 20, 100, XarFile(2, 120, 300)) + XarFile(3, 420, 80));
             const Bytes x = Xar(toc, 500);
             return FromDevice(pkg, x) + " / " + std::to_string(x.size());
         }, [] {
             const std::string toc = XarToc(XarFile(1, 20, 100, XarFile(2, 120, 300)) + XarFile(3, 420, 80));
             const std::string n = std::to_string(Xar(toc, 500).size());
             return n + " pkg / " + n;
         }()},
        {"  ... a table inflating past its stated length, or stated past 0x300000, is refused", [] {
             FilePKGAnalyser pkg;
             Bytes x = Xar(XarToc(XarFile(1, 20, 100)), 200);
             Bytes shorter = x;
             ByteWriter(shorter.data(), shorter.size()).Be64(16, 40);
             Bytes huge = x;
             ByteWriter(huge.data(), huge.size()).Be64(16, 0x300001);
             return FromDevice(pkg, shorter) + " / " + FromDevice(pkg, huge);
         }, "refused 0 / refused 0"},
        {"  ... a table nested deeper than any real one is refused before it is parsed", [] {
             std::string nested;
             for (int i = 0; i < 100000; ++i) nested += "<file>";
             return std::to_string(FilePKGAnalyser::XarSize(500, XarToc(nested)));
         }, "0"},
        {"7F PKG: version 1 or 2, the total size at 24", [] {
             FilePKGAnalyser pkg;
             Bytes p = Random(600, 14);
             memcpy(p.data(), "\x7FPKG", 4);
             ByteWriter(p.data(), p.size()).Be16(6, 2);
             ByteWriter(p.data(), p.size()).Be64(24, 600);
             Bytes v3 = p;
             ByteWriter(v3.data(), v3.size()).Be16(6, 3);
             return FromDevice(pkg, p) + " / " + FromDevice(pkg, v3);
         }, "600 pkg / refused 0"},
        {"SQLite: page size a multiple of 1024 below 65536, encoding 0 to 3", [] {
             BruteForce::CFCPEvtAnalyser sql;
             Bytes big = Sqlite(1, 1, 0);
             ByteWriter(big.data(), big.size()).Be16(16, 1);
             Bytes odd = Sqlite(1, 1, 0);
             ByteWriter(odd.data(), odd.size()).Be16(16, 1000);
             return Accepts(sql, Sqlite(1, 1, 0)) + " " + Accepts(sql, big) + " " + Accepts(sql, odd) + " " +
                    Accepts(sql, Sqlite(1, 1, 0, 4));
         }, "SQLITE refused refused refused"},
        {"SQLite, page size 4096, 2 free-list pages: 8192 bytes past its last in-sequence page", [] {
             BruteForce::CFCPEvtAnalyser sql;
             Bytes random = Sqlite(6, 4, 2);
             const Bytes after = Random(8192, 23);
             random.insert(random.end(), after.begin(), after.end());
             random[6 * 4096] = 'x';
             return WhileReading(sql, Sqlite(6, 4, 2)) + " / " + WhileReading(sql, random);
         }, "24576 SQLITE / 24576 SQLITE"},
        {"  ... an overflow chain (consecutive page numbers) continues it", [] {
             BruteForce::CFCPEvtAnalyser sql;
             Bytes f = Sqlite(8, 8, 0);
             for (u32 i = 3; i < 7; ++i) {
                 f[4096 * i] = 0;
                 ByteWriter(f.data(), f.size()).Be32(4096 * i, i + 2);
             }
             return WhileReading(sql, f);
         }, "32768 SQLITE"},
        {"MUSE: tableactiveactive in UTF-16LE at the first cell + 10; no free-list pages added", [] {
             BruteForce::CFCPEvtAnalyser sql;
             Bytes f = Sqlite(6, 4, 2, 2);
             const Bytes name = Utf16("tableactiveactive", false);
             memcpy(f.data() + 3610, name.data(), name.size());
             return WhileReading(sql, f);
         }, "16384 MUSE"},
        {"SKETCH: payload and metadata at the cell content start + 10; the stated pages within 3 pages", [] {
             BruteForce::CFCPEvtAnalyser sql;
             Bytes f = Sqlite(6, 4, 2);
             const std::string text = "tablepayloadpayload CREATE TABLE metadata";
             memcpy(f.data() + 3010, text.data(), text.size());
             return WhileReading(sql, f);
         }, "24576 SKETCH"},
        {"ABCDDB: a page of 26 to 34 cells, two named ABCDRecord or ABCDPhoneNumber", [] {
             BruteForce::CFCPEvtAnalyser sql;
             Bytes f = Sqlite(4, 4, 0);
             ByteWriter w(f.data(), f.size());
             w.Be16(4096 + 3, 30);
             const char* names[] = {"ABCDRecord", "ABCDPhoneNumber", "ABCDNote"};
             for (int i = 0; i < 30; ++i) {
                 const size_t cell = 4096 + 1000 + 60 * static_cast<size_t>(i);
                 w.Be16(4096 + 8 + 2 * i, static_cast<u16>(cell - 4096));
                 const std::string record = std::string("\x05\x01\x0F", 3) + names[i % 3];
                 memcpy(f.data() + cell, record.data(), record.size());
             }
             Bytes one = f;  // a single named cell is not enough
             for (int i = 1; i < 30; ++i) one[4096 + 1000 + 60 * i + 3] = 'Z';
             return WhileReading(sql, f) + " / " + WhileReading(sql, one);
         }, "16384 ABCDDB / 16384 SQLITE"},
        {"StuffIt classic: the length at 84, even past the data present", [] {
             RawSpeed::SITAnalyser sit;
             FileSITAnalyser sitDevice;
             Bytes f = Random(1000, 24);
             memcpy(f.data(), "StuffIt ", 8);
             ByteWriter(f.data(), f.size()).Be32(84, 5000);
             Bytes zero = f;
             ByteWriter(zero.data(), zero.size()).Be32(84, 0);
             return WhileReading(sit, f) + " / " + FromDevice(sitDevice, f) + " / " + WhileReading(sit, zero);
         }, "5000 SIT / 5000 SIT / 2000000000 SIT"},
        {"StuffIt X: the end marker before the zero run; from the device the marker + 12, 13 or 14", [] {
             RawSpeed::SITAnalyser sit;
             FileSITAnalyser sitDevice;
             const Bytes x19 = StuffItX(3000, 0x19);
             const Bytes xSemi = StuffItX(3000, ';');
             const Bytes x10 = StuffItX(3000, 0x10);
             return WhileReading(sit, x19) + " / " + FromDevice(sitDevice, x19, Random(700, 25)) + " " +
                    FromDevice(sitDevice, xSemi) + " " + FromDevice(sitDevice, x10);
         }, "3014 SITX / 3012 SITX 3013 SITX 3014 SITX"},
        {"  ... the 16-byte header of the zero-ending kind", [] {
             RawSpeed::SITAnalyser sit;
             Bytes f = Random(2000, 26);
             memcpy(f.data(), sit_layout::kZeroEndHeader, 16);
             f.back() = 0x7F;
             return WhileReading(sit, f);
         }, "2000 SIT"},
        {"DMG: BZh11AY&SY, the image ends 512 bytes after koly in both paths", [] {
             Brance::DMGAnalyser dmg;
             FileDMGAnalyser dmgDevice;
             const Bytes image = DiskImage(5000);
             const Bytes aligned = DiskImage(5120);
             Bytes bzh2 = image;
             bzh2[3] = '2';
             return WhileReading(dmg, image) + " " + FromDevice(dmgDevice, image) + " / " + WhileReading(dmg, aligned) +
                    " " + FromDevice(dmgDevice, aligned) + " / " + Accepts(dmg, bzh2);
         }, "5512 DMG 5512 DMG / 5632 DMG 5632 DMG / refused"},
        {"StuffIt X and disk image device analysers take each call's device sector size", [] {
             FileSITAnalyser sit;
             FileDMGAnalyser dmg;
             auto sized = [](IRawFileAnalyser& a, const Bytes& file, unsigned sectorSize) {
                 MemoryDevice device(Place({{4, file}}, 4 + file.size() / sectorSize + 40, sectorSize), sectorSize);
                 CRawFileInfo info;
                 info.m_startSector = 4;
                 return a.GetRawFileSize(info, &device) ? std::to_string(info.m_size) : std::string("refused");
             };
             const Bytes x = StuffItX(9000, ';');
             const Bytes image = DiskImage(9000);
             return sized(sit, x, 4096) + " " + sized(sit, x, 512) + " " + sized(dmg, image, 4096) + " " + sized(dmg, image, 512);
         }, "9013 9013 9512 9512"},
        {"JKS FE ED FE ED, PSAFE3 PWS3 at 0 or 3 in any case, SIB 0F SIBELIUS in any case",
         [&] {
             return Accepts(jks, Bytes{0xFE, 0xED, 0xFE, 0xED}) + Accepts(psafe, Text("pws3")) +
                    Accepts(psafe, Text("abcPwS3")) + Accepts(sib, Text("\x0FSIBelius"));
         },
         "JKSPSAFE3PSAFE3SIB"},
        {"  ... not PWS at 1, not SIBELIU", [&] { return Accepts(psafe, Text("aPWS3")) + Accepts(sib, Text("\x0FSIBELIU!")); },
         "refusedrefused"},
        {"JKS ending in zeros", [&] { return WhileReading(jks, TextOf(700, "\xFE\xED\xFE\xED", "!")); }, "700 JKS"},
        {"SIB: at least 512 bytes, the first sector is passed over",
         [&] { return WhileReading(sib, TextOf(300, "\x0FSIBELIUS", "!")); }, "512 SIB"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.actual(), row.expected) << row.constant;
}

// Files of these types found by the whole search (the real tables and controller) at their sectors.
TEST(StoreRules, FoundThroughTheTables) {
    Bytes money = Random(4096, 27);
    memcpy(money.data(), "\x00\x01\x00\x00MSISAM Database", 19);
    Bytes classic = Random(1000, 28);
    memcpy(classic.data(), "StuffIt ", 8);
    ByteWriter(classic.data(), classic.size()).Be32(84, 1000);
    const Bytes database = Sqlite(6, 4, 2);
    const Bytes image = DiskImage(5000);
    struct Row {
        const char* what;
        Bytes file;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"Money, by its 00 01 key after the Access rows", money, "1048576 MNY"},
        {"SQLite", database, "24576 SQLITE"},
        {"StuffIt classic", classic, "1000 SIT"},
        {"disk image", image, "5512 DMG"},
        {"tar, folder first: found once, whole", Tar({{"dir/", {}, '5'}, {"dir/a.txt", Random(700, 1)}, {"dir/b", Random(3000, 2)}}), "10240 TAR"},
    };
    for (const Row& row : rows) {
        rawtest::RecordingTreeBuilder builder;
        const auto files = Carve(Place({{4, row.file}}, 4 + 1048576 / 512 + 40), builder);
        const rawtest::Received* found = FileAt(files, 4);
        std::string got = "not found";
        if (found != nullptr) {
            const std::string ext = found->name.substr(found->name.rfind('.') + 1);
            got = std::to_string(found->size) + " " + ext;
        }
        EXPECT_EQ(got, row.expected) << row.what;
        // Nothing else is found in the file (a tar's entry headers are no archives of their own).
        size_t listed = 0;
        for (const auto& f : files) listed += f.directory ? 0 : 1;
        EXPECT_EQ(listed, 1u) << row.what;
    }
}

TEST(StoreRules, EveryRowOfTheseAnalysersHasAFactory) {
    const std::set<std::string> names = {"RawSpeed::RTFAnalyser",  "RawSpeed::HTMLAnalyser",   "FileUnicodeHTMAnalyser",
                                         "RawSpeed::JKSAnalyser",  "RawSpeed::PSAFE3Analyser", "RawSpeed::SIBAnalyser",
                                         "RawSpeed::TARAnalyser",  "FilePSTAnalyser",          "FileMNYAnalyser",
                                         "FileLowDocAnalyser",     "FileWPDAnalyser",          "FileCABAnalyser",
                                         "FileCHMAnalyser",        "FileHLPAnalyser",          "RawSpeed::RARAnalyser",    "Brance::LZHAnalyser",
                                         "RawSpeed::GZAnalyzer",     "FileMboxAnalyser",
                                         "RawSpeed::DbxAnalyser",  "RawSpeed::OneAnalyser",    "RawSpeed::MOBIAnalyser",
                                         "RawSpeed::CMDBAnalyser",   "FilePKGAnalyser",          "RawSpeed::SITAnalyser",
                                         "Brance::DMGAnalyser",    "BruteForce::CFCPEvtAnalyser"};
    int rows = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (names.count(row.analyser) == 0) continue;
        ++rows;
        ASSERT_NE(row.create, nullptr) << row.analyser << " " << row.key;
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        // The database analyser takes its type from the content only.
        const i32 expected = std::string(row.analyser) == "BruteForce::CFCPEvtAnalyser" ? -1 : row.type;
        EXPECT_EQ(analyser->GetDefaultType(), expected) << row.analyser;
    }
    EXPECT_EQ(rows, 38);
}
