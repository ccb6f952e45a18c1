// A test-side writer of HFS+ and HFSX volume images, following the published volume format: boot
// area, volume header and alternate header, allocation bitmap, extents overflow B-tree, catalog B-tree
// (header, index and leaf nodes, threads, folders, files, hard links, symbolic links), attributes
// B-tree (extended attributes and the decmpfs attributes of compressed files, types 3, 4, 7 and 8, also
// stored raw), and a journal whose block list holds older copies of B-tree leaves: the records of the
// files marked deleted live only there (their data stays in blocks marked free).
//
// Images are made in memory and are deterministic. The writer's own inputs are the oracle for what a
// reader must find (deleted and compressed files); the images are checked against independent readers
// when committed fixtures are made (tests/fixtures/hfsplus).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/Common/Types.h"

namespace testsupport::hfs {

// 2021-03-04 05:06:08 UTC in HFS+ seconds since 1904.
inline constexpr u32 kDefaultDate = 3697679168u;

struct Entry {
    enum class Kind { File, Folder, HardLink, Symlink };
    Kind kind = Kind::File;
    // Path below the root, '/'-separated, UTF-8 (stored as UTF-16 as given; a ':' in a name is stored
    // as the '/' it stands for, as the format keeps names).
    std::string path{};
    std::string data{};    // file content; the target path of a symbolic link
    std::string resource{};  // resource fork of an uncompressed file
    u32 compression = 0;   // 0, or decmpfs type 3, 4, 7 or 8
    bool rawStored = false;  // compressed streams stored raw after their mark (0xFF zlib, 0x06 LZVN)
    u32 extents = 1;       // the fork holding the data is cut into this many extents
    bool deleted = false;  // only the journal's old leaf copies remember it
    std::string linkTarget{};  // a hard link: the path of the file it names
    std::vector<std::pair<std::string, std::string>> xattrs{};
    u32 date = kDefaultDate;
    // A deleted file: its record appears in this many journal transactions; only the last copy has the
    // true data size (earlier ones are shorter by one byte per transaction to come).
    u32 journalCopies = 1;
};

struct Options {
    u32 blockSize = 4096;
    u32 totalBlocks = 1024;
    bool hfsx = false;  // signature "HX", version 5, binary name order (0xBC)
    bool journaled = false;
    u32 catalogNodeSize = 4096;
    u32 extentsNodeSize = 4096;
    u32 attributesNodeSize = 4096;
    u32 maxLeafRecords = 0;   // at most this many records per leaf node (0: as many as fit)
    u32 catalogExtents = 1;   // the catalog file in this many extents (above 8: an overflow record)
    u32 spareNodes = 4;       // free nodes at the end of each B-tree file
    bool attributesFile = true;
    u32 journalSize = 256 * 1024;
    u32 jhdrSize = 512;
    u32 blhdrSize = 4096;
    std::string volumeName = "WRITER";
    u64 volumeIdentifier = 0x0123456789ABCDEFULL;
};

// Where things landed (byte offsets in the image), for tests that patch bytes.
struct Layout {
    u64 imageSize = 0;
    u64 catalogByte = 0;  // byte of catalog node 0 (the catalog's first extent)
    u32 catalogNodeSize = 0;
    u32 catalogRoot = 0;
    std::vector<u32> catalogLeaves;  // node numbers, in key order
    std::vector<u32> catalogIndexNodes;
    u64 extentsByte = 0;
    u64 attributesByte = 0;
    u64 journalInfoByte = 0;
    u64 journalByte = 0;
    u64 journalSize = 0;
    u64 firstTransaction = 0;  // journal offset of the first block list header
    std::map<std::string, u32> ids;  // path -> catalog node ID (deleted entries too)
};

class Writer {
public:
    explicit Writer(Options options) : m_options(std::move(options)) {}
    void Add(Entry entry) { m_entries.push_back(std::move(entry)); }
    const std::vector<Entry>& Entries() const { return m_entries; }
    const Options& GetOptions() const { return m_options; }

    // The image; throws std::runtime_error when the entries do not fit the options.
    std::vector<u8> Build(Layout* layout = nullptr) const;

private:
    Options m_options;
    std::vector<Entry> m_entries;
};

// Deterministic content: `size` bytes of text or noise seeded by the name.
std::string TextContent(const std::string& seed, size_t size);
std::string NoiseContent(const std::string& seed, size_t size);

// The decmpfs attribute and resource fork the writer stores for a compressed file.
struct Compressed {
    std::string attribute;
    std::string resourceFork;
};
Compressed Compress(const std::string& data, u32 type, bool rawStored);

}  // namespace testsupport::hfs
