// Writers of small office files for the tests of the OLE, ZIP and PDF analysers: compound files
// (version 3 and 4, with a DIFAT when they need one), property set streams, ZIP archives (sizes in the
// headers or behind the data, Zip64 sizes) and PDFs with an Info dictionary.
#pragma once

#include <string>
#include <vector>

#include "RawTestSupport.h"
#include "RecordingTreeBuilder.h"
#include "engine/Common/Types.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace officetest {

using Bytes = std::vector<unsigned char>;

// FILETIME of a UTC date.
u64 FileTime(int year, int month, int day, int hour, int minute, int second);

struct Property {
    u32 id;
    u32 type;  // 2, 30 (text), 31 (UTF-16 text), 64 (FILETIME)
    std::string text;
    u64 number = 0;
};
// A property set stream of one section with the given format identifier (16 bytes).
Bytes PropertySet(const unsigned char* formatId, const std::vector<Property>& properties);
extern const unsigned char kSummaryInformationId[16];
extern const unsigned char kDocumentSummaryInformationId[16];
// A SummaryInformation stream; empty texts and zero times are left out.
Bytes Summary(const std::string& title, const std::string& author, const std::string& lastAuthor, u64 created,
              u64 saved);

struct Stream {
    std::string name;
    Bytes data;
};
struct CompoundOptions {
    u16 version = 3;             // 4: 4096-byte sectors
    bool difatFirst = true;      // DIFAT sectors before the FAT sectors (else after the streams)
    unsigned char rootClass[16] = {};
};
// Streams in regular sectors after the root entry, in directory order; the DIFAT and FAT sectors first,
// then the streams, then the directory. The file's length is what its FAT covers.
Bytes CompoundFile(const std::vector<Stream>& streams, const CompoundOptions& options = {});
// The directory bytes of the given entry names after a root entry (for the kind rules alone).
Bytes Directory(const std::vector<std::string>& names);

struct ZipEntry {
    std::string name;
    Bytes data;               // stored as given (method 0), or the deflated bytes when deflate is set
    bool deflate = false;     // data is plain; it is stored raw-deflated, method 8
    bool descriptor = false;  // flags 0x0008: sizes (0 in the header) in a descriptor after the data
    bool zip64 = false;       // sizes 0xFFFFFFFF in the header, the real ones in a Zip64 extra field
};
Bytes Zip(const std::vector<ZipEntry>& entries);
Bytes RawDeflate(const std::string& text);
// A core.xml with these texts.
std::string CoreXml(const std::string& title, const std::string& creator, const std::string& lastModifiedBy,
                    const std::string& modified);

// "%PDF-1.4", about bodyBytes of content, an object holding info (a dictionary's inside), "%%EOF\n";
// with endAt, blanks before the object make the file end endAt bytes into its last sector.
Bytes Pdf(size_t bodyBytes, const std::string& info, unsigned seed = 1, int endAt = -1);

Bytes Random(size_t n, unsigned seed);
// The files of an image: each copied at its sector.
Bytes Place(const std::vector<std::pair<size_t, Bytes>>& files, size_t sectors, unsigned sectorSize = 512);

// Runs the whole signature search (the real tables) over an image in blocks of blockSectors and returns
// the files received.
std::vector<rawtest::Received> Carve(const Bytes& image, rawtest::RecordingTreeBuilder& builder,
                                     unsigned sectorSize = 512, int blockSectors = 64);
// Hands the sectors of image, from the record's start sector on, to a guessing record as the search does
// (blocks of blockSectors in a double buffer, each sector's zero tail counted); the sector it finished
// in, or -1 when it never did.
i64 Drive(CRawFileInfo& record, const Bytes& image, unsigned sectorSize = 512, i64 blockSectors = 64);

// The size and type ("open " before them when it never finished) the guessing record of the analyser
// gives a file planted at sector 4 of an image of zeros, and its name.
std::string WhileReading(IRawFileAnalyser& analyser, const Bytes& file, std::string* name = nullptr);

// The received file that starts at the sector (start of its first data run), or null.
const rawtest::Received* FileAt(const std::vector<rawtest::Received>& files, i64 sector);

// The whole search over the file planted at sector 4 of zeros (40 sectors after it): "SIZE EXT" of the
// file found there, or "not found"; listed gets the number of files found in all.
std::string CarvedAt4(const Bytes& file, size_t* listed);

}  // namespace officetest
