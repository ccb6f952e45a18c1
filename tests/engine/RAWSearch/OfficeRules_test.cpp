// The constants of the office analysers' rules, as one table: the kinds the compound-file directory
// tells, the sizes of version 4 files, the summary's times and titles, the ZIP kinds and caps, the PDF
// end, title and date rules. And every signature row of these analysers has its factory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "OfficeTestSupport.h"
#include "engine/RAWSearch/Analysers/FileOLEAnalyser.h"
#include "engine/RAWSearch/Analysers/FileZIPAnalyser.h"
#include "engine/RAWSearch/Analysers/PdfAnalyzer.h"
#include "engine/RAWSearch/Analysers/SummaryInformation.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using namespace officetest;
using rawtest::MemoryDevice;

namespace {

std::string Type(RAW_FILE_TYPE type) { return RawFileExtension(type); }

std::string KindOfDirectory(const std::vector<std::string>& names) {
    const Bytes d = Directory(names);
    CRawFileInfo info;
    info.m_type = RAW_TYPE_OLE;
    FileOLEAnalyser::CheckSectDirData(d.data(), static_cast<int>(d.size()), &info);
    return Type(info.m_type);
}

// The size and type the device gives a file planted at sector 4 of an image.
std::string FromDevice(IRawFileAnalyser& analyser, const Bytes& file, unsigned sectorSize = 512) {
    MemoryDevice device(Place({{4, file}}, 4 + file.size() / sectorSize + 40, sectorSize), sectorSize);
    CRawFileInfo info;
    info.m_startSector = 4;
    if (!analyser.GetRawFileSize(info, &device)) return "refused";
    return std::to_string(info.m_size) + " " + Type(info.m_type);
}

std::string Detail(const Bytes& stream, u64 at) {
    int codePage = 0;
    std::string out = "(none)";
    CSummaryInFormation::GetDetailInformation(ByteReader(stream.data(), stream.size()), static_cast<i64>(at), codePage,
                                              out);
    return out;
}

// The value of property id of a one-property SummaryInformation stream read through the reader.
std::string SummaryText(const Property& p) {
    const Bytes stream = PropertySet(kSummaryInformationId, {p});
    FileProperty out;
    CSummaryInFormation reader;
    if (!reader.GetFileInformation(stream.data(), out, static_cast<int>(stream.size()))) return "(no summary)";
    return p.id == 2 ? out.title : p.id == 12 ? out.created : out.author;
}

std::string PdfInformation(const std::string& dictionary) {
    std::string sector = "7 0 obj\n<< " + dictionary + " >>\nendobj\n";
    sector.resize(512, ' ');
    FileProperty out;
    BruteForce::PdfTitleAnalyzer reader;
    if (!reader.ObtainPerSecPDFInformation(ByteReader(sector.data(), sector.size()), 512, false, out)) return "(none)";
    return "title=" + out.title + " author=" + out.author + " created=" + out.created;
}

Bytes DocxZip(const std::string& first) {
    return Zip({{first, Bytes(300, 'c'), true},
                {"word/_rels/document.xml.rels", Bytes(200, 'r'), true},
                {"docProps/core.xml",
                 [] {
                     const std::string x = CoreXml("Plan", "Ann", "Bo", "2012-03-04T05:06:07Z");
                     return Bytes(x.begin(), x.end());
                 }(),
                 true},
                {"word/document.xml", Random(3000, 4)}});
}

}  // namespace

TEST(OfficeRules, ConstantsOfTheNotes) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string title30 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";
    const Bytes v4 = CompoundFile({{"VisioDocument", Random(9000, 1)}}, CompoundOptions{4});
    const Bytes v3 = CompoundFile({{"Contents", Random(2000, 2)}});
    Bytes fileTimeZero(12, 0);
    ByteWriter(fileTimeZero.data(), 12).Le32(0, 64);
    Bytes withTime = fileTimeZero;
    ByteWriter(withTime.data(), 12).Le64(4, FileTime(2016, 1, 2, 3, 4, 5));
    FileOLEAnalyser ole;
    FileZIPAnalyser zip;
    BruteForce::PdfAnalyzer pdf;
    FilePDFAnalyser pdfDevice;
    const Bytes ipa = Zip({{"Payload/App.app/Info.plist", Bytes(700, 'p')}, {"Payload/App.app/App", Random(2000, 3)}});
    const Bytes jar = Zip({{"META-INF/MANIFEST.MF", Bytes(24, 'M')}, {"a/B.class", Random(900, 4)}});
    const Bytes noApp = Zip({{"Payload/readme.txt", Bytes(6, 't')}, {"Payload/data.bin", Random(900, 5)}});
    const Bytes appLater = Zip({{"iTunesMetadata.plist", Bytes(300, 'm')}, {"Payload/Demo.app/Demo", Random(900, 6)}});
    const Bytes cdr = Zip({{"content/riffData.cdr", Random(2000, 5)}, {"content/root.dat", Random(300, 6)}});
    const std::string odtType = "application/vnd.oasis.opendocument.text";
    const Bytes odt = Zip({{"mimetype", Bytes(odtType.begin(), odtType.end())}, {"content.xml", Bytes(900, 'x'), true}});
    const Bytes docx = DocxZip("[Content_Types].xml");
    std::string docxName;
    const Bytes shortPdf = Pdf(9000, "/Title (Short) /Author (Al) /Creator (W)");
    // Ending 500 bytes into its last sector: fewer than 32 zero bytes follow.
    const Bytes longPdf = Pdf(30000, "/Title (Long) /Author (Al) /Creator (W)", 1, 500);
    const Bytes aiPdf = Pdf(30000, "/Title (Logo) /Author (Uma) /Creator (Adobe Illustrator 25.0)", 2, 500);

    struct Row {
        const char* constant;
        std::function<std::string()> actual;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"entry 1 PowerPoint Document, entry 2 Workbook: PPT (the later rule wins)",
         [] { return KindOfDirectory({"PowerPoint Document", "Workbook"}); }, "PPT"},
        {"entry 1 Workbook alone: XLS", [] { return KindOfDirectory({"Workbook"}); }, "XLS"},
        {"WordDocument among the first eight entries: DOC",
         [] { return KindOfDirectory({"\x01" "CompObj", "1Table", "Data", "WordDocument"}); }, "DOC"},
        {"PerfectOffice entries, root class zero: WPG",
         [] { return KindOfDirectory({"PerfectOffice_MAIN", "PerfectOffice_OBJECTS"}); }, "WPG"},
        {"an unknown compound file with a readable directory: MOF, not OLE",
         [] { return KindOfDirectory({"Contents"}); }, "MOF"},
        {"  ... sized from the device", [&] { return FromDevice(ole, v3); }, std::to_string(v3.size()) + " MOF"},
        {"version 4, 4096-byte sectors: 1024 entries a FAT sector, 4096-byte units (device)",
         [&] { return FromDevice(ole, v4); }, std::to_string(v4.size()) + " VSD"},
        {"  ... on a device of 4096-byte sectors", [&] { return FromDevice(ole, v4, 4096); },
         std::to_string(v4.size()) + " VSD"},
        {"  ... while the search reads on", [&] { return WhileReading(ole, v4); }, std::to_string(v4.size()) + " VSD"},
        {"  ... a multiple of 4096", [&] { return std::to_string(v4.size() % 4096); }, "0"},
        {"FILETIME 0: an empty time", [&] { return Detail(fileTimeZero, 0); }, ""},
        {"FILETIME: local year-month-day-hour-minute-second", [&] { return Detail(withTime, 0); },
         "2016-01-02-03-04-05"},
        {"a title of blanks: empty (no summary)", [] { return SummaryText({2, 30, "     "}); }, "(no summary)"},
        {"a 30-character ASCII title: 24 bytes", [&] { return SummaryText({2, 30, title30}); }, title30.substr(0, 24)},
        {"leading blanks removed", [] { return SummaryText({2, 30, "  Spaced"}); }, "Spaced"},
        {"a UTF-16LE title", [] { return SummaryText({2, 31, "Wide Title"}); }, "Wide Title"},
        {"a section of 32 properties: no summary",
         [] {
             std::vector<Property> p(32, Property{100, 30, "x"});
             p[0] = {2, 30, "Title"};
             const Bytes s = PropertySet(kSummaryInformationId, p);
             FileProperty out;
             return std::string(CSummaryInFormation().GetFileInformation(s.data(), out, static_cast<int>(s.size()))
                                    ? "summary"
                                    : "no summary");
         },
         "no summary"},
        {"a DocumentSummaryInformation stream is not a SummaryInformation",
         [] {
             const Bytes s = PropertySet(kDocumentSummaryInformationId, {{2, 30, "Sneaky"}});
             return std::string(CSummaryInFormation::IsDocumentInformation(ByteReader(s.data(), s.size())) ? "read"
                                                                                                           : "refused");
         },
         "refused"},
        {"first entry Payload/...: IPA while reading", [&] { return WhileReading(zip, ipa); },
         std::to_string(ipa.size()) + " IPA"},
        {"  ... and from the device", [&] { return FromDevice(zip, ipa); }, std::to_string(ipa.size()) + " IPA"},
        {"a JAR (META-INF first) is a ZIP, while reading and from the device",
         [&] { return WhileReading(zip, jar) + " / " + FromDevice(zip, jar); },
         std::to_string(jar.size()) + " ZIP / " + std::to_string(jar.size()) + " ZIP"},
        {"Payload without an application folder is a ZIP",
         [&] { return WhileReading(zip, noApp); }, std::to_string(noApp.size()) + " ZIP"},
        {"an application folder after other entries makes an IPA while reading",
         [&] { return WhileReading(zip, appLater); }, std::to_string(appLater.size()) + " IPA"},
        {"[Content_Types].xml then word/_rels/document.xml.rels: DOCX",
         [&] { return WhileReading(zip, docx, &docxName); }, std::to_string(docx.size()) + " DOCX"},
        {"  ... named from core.xml with its last author", [&] { return docxName; }, "Bo_Plan_2012-03-04 05-06-07"},
        {"  ... capped at 20,000,000 bytes",
         [&] {
             FileZIPAnalyser::ZIPRawFileInfo record;
             record.m_startSector = 0;
             Bytes image = docx;
             image.resize(8192, 0);
             CRawFileInfo::SearchContext ctx;
             ctx.blockEndSector = 16;
             record.CalcRawSize(image.data(), 512, 0, ctx);
             return std::to_string(record.Cap());
         },
         "20000000"},
        {"first entry content/riffData.cdr: CDR while reading", [&] { return WhileReading(zip, cdr); },
         std::to_string(cdr.size()) + " CDR"},
        {"  ... and from the device", [&] { return FromDevice(zip, cdr); }, std::to_string(cdr.size()) + " CDR"},
        {"mimetype with the OpenDocument text type: ODT", [&] { return WhileReading(zip, odt); },
         std::to_string(odt.size()) + " ODT"},
        {"a PDF under 20,480 bytes ends at its own end marker's line end", [&] { return WhileReading(pdf, shortPdf); },
         std::to_string(shortPdf.size()) + " PDF"},
        {"  ... as does a longer one", [&] { return WhileReading(pdf, longPdf); }, std::to_string(longPdf.size()) + " PDF"},
        {"  ... and one whose marker ends a sector, at the all-zero sector after it",
         [&] {
             Bytes exact = shortPdf;
             exact.resize(exact.size() - 6);
             exact.resize((exact.size() / 512 + 2) * 512 - 6, ' ');
             const std::string end = "%%EOF\n";
             exact.insert(exact.end(), end.begin(), end.end());
             return WhileReading(pdf, exact) + " of " + std::to_string(exact.size());
         },
         std::to_string((shortPdf.size() - 6) / 512 * 512 + 1024) + " PDF of " +
             std::to_string((shortPdf.size() - 6) / 512 * 512 + 1024)},
        {"a title holding a digit is dropped",
         [] { return PdfInformation("/Title (Report 2021) /Author (Omar Field) /Creator (Writer)"); },
         "title= author=Omar Field created="},
        {"a UTF-16BE title (FE FF) is decoded",
         [] {
             static const char kCafe[] = "\xFE\xFF\x00" "C" "\x00" "a" "\x00" "f" "\x00\xE9";
             return PdfInformation("/Title (" + std::string(kCafe, sizeof(kCafe) - 1) +
                                   ") /Author (Zoe Smith) /Creator (W)");
         },
         "title=Café author=Zoe Smith created="},
        {"a date D: + 14 digits + zone: date, blank, time",
         [] { return BruteForce::PdfTitleAnalyzer::TimeChange("D:20210304050607+00'00'"); }, "2021-03-04 05-06-07"},
        {"a date of 16 characters: empty", [] { return BruteForce::PdfTitleAnalyzer::TimeChange("D:20210304050607"); },
         ""},
        {"a date with a non-digit among characters 2-15: empty",
         [] { return BruteForce::PdfTitleAnalyzer::TimeChange("D:2021030405x607+00"); }, ""},
        {"creator holding Illustrator: AI",
         [&] { return WhileReading(pdf, aiPdf); }, std::to_string(aiPdf.size()) + " AI"},
        {"PostScript with Illustrator but EPSF-: refused",
         [&] {
             std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%Creator: Adobe Illustrator(R) 8.0\n";
             ps.resize(512, '\n');
             CRawFileInfo info;
             return std::to_string(pdf.AnalyseBuffer(reinterpret_cast<unsigned char*>(ps.data()), info));
         },
         "0"},
        {"PostScript with Illustrator, no EPSF-: accepted, AI from the device",
         [&] {
             std::string ps = "%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(R) 8.0\n";
             ps += std::string(3000, 'x') + "\n%%EOF\n";
             return FromDevice(pdfDevice, Bytes(ps.begin(), ps.end())) + " of " + std::to_string(ps.size());
         },
         "3058 AI of 3058"},
        {"  ... the device ends a PDF at its last marker before the zeros, with its line end",
         [&] {
             std::string doc = "%PDF-1.4\n" + std::string(2500, 'x') + "\n%%EOF\n" + std::string(100, 'y') + "\n%%EOF\r\n";
             const std::string got = FromDevice(pdfDevice, Bytes(doc.begin(), doc.end()));
             return got.substr(0, got.find(' ')) + " of " + std::to_string(doc.size());
         },
         "2624 of 2624"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.actual(), row.expected) << row.constant;
    }
}

TEST(OfficeRules, EveryRowOfTheseAnalysersHasAFactory) {
    int rows = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        const std::string name = row.analyser;
        if (name != "FileOLEAnalyser" && name != "FileZIPAnalyser" && name != "BruteForce::PdfAnalyzer") continue;
        ++rows;
        ASSERT_NE(row.create, nullptr) << name << " " << row.key;
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        ASSERT_NE(analyser, nullptr) << name;
        EXPECT_EQ(analyser->GetDefaultType(), row.type) << name;
    }
    EXPECT_EQ(rows, 4) << "D0 CF 11 E0, PK 03 04, %PDF and %!";
    // "%!" is tried by the PDF analyser before the EPS one.
    std::vector<std::string> percentBang;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (row.kind == RawTableKind::Multimap && std::string(row.key) == "%!") percentBang.push_back(row.analyser);
    }
    EXPECT_EQ(percentBang, (std::vector<std::string>{"BruteForce::PdfAnalyzer", "BruteForce::CEPSAnalyser"}));
}
