#include "support/HfsPlusFixtures.h"

#include <sstream>
#include <stdexcept>

#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace testsupport::hfs {

namespace {

Entry File(std::string path, std::string data) {
    Entry e;
    e.path = std::move(path);
    e.data = std::move(data);
    return e;
}

Entry Compressed(std::string path, std::string data, u32 type, bool raw = false, u32 extents = 1) {
    Entry e = File(std::move(path), std::move(data));
    e.compression = type;
    e.rawStored = raw;
    e.extents = extents;
    return e;
}

Entry Deleted(Entry e) {
    e.deleted = true;
    return e;
}

Entry Folder(std::string path, bool deleted = false) {
    Entry e;
    e.kind = Entry::Kind::Folder;
    e.path = std::move(path);
    e.deleted = deleted;
    return e;
}

// Text with runs of noise: compresses, but not to nothing.
std::string Mixed(const std::string& seed, size_t size) {
    std::string out;
    for (int i = 0; out.size() < size; ++i) {
        out += TextContent(seed + std::to_string(i), 3000);
        out += NoiseContent(seed + std::to_string(i), 100);
    }
    out.resize(size);
    return out;
}

Writer Journaled() {
    Options o;
    o.blockSize = 4096;
    o.totalBlocks = 1024;
    o.journaled = true;
    o.volumeName = "JOURNALED";
    Writer w(o);
    w.Add(File("Docs/readme.txt", TextContent("readme", 300)));
    w.Add(File("Docs/Nested/deep.bin", NoiseContent("deep", 20000)));
    w.Add(File("\xC3\x9Cn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9 caf\xC3\xA9.txt", TextContent("cafe", 1234)));
    Entry fragmented = File("fragmented.bin", TextContent("fragmented", 12 * 4096 + 100));
    fragmented.extents = 12;
    w.Add(fragmented);
    w.Add(Compressed("Compressed/z3.txt", TextContent("z3", 2000), 3));
    w.Add(Compressed("Compressed/z3raw.txt", TextContent("z3raw", 500), 3, true));
    w.Add(Compressed("Compressed/z4.bin", Mixed("z4", 140000), 4));
    w.Add(Compressed("Compressed/z4raw.bin", TextContent("z4raw", 70000), 4, true));
    w.Add(Compressed("Compressed/v7.txt", TextContent("v7", 3000), 7));
    w.Add(Compressed("Compressed/v7raw.txt", TextContent("v7raw", 400), 7, true));
    w.Add(Compressed("Compressed/v8.bin", Mixed("v8", 100000), 8));
    w.Add(Compressed("Compressed/v8raw.bin", TextContent("v8raw", 70000), 8, true));
    Entry attrs = File("attrs.txt", TextContent("attrs", 640));
    attrs.xattrs = {{"com.example.note", "hello"}, {"user.tag", "blue"}};
    w.Add(attrs);
    Entry link;
    link.kind = Entry::Kind::Symlink;
    link.path = "link";
    link.data = "Docs/readme.txt";
    w.Add(link);
    w.Add(File("hardlinked.txt", TextContent("hardlinked", 777)));
    Entry hard;
    hard.kind = Entry::Kind::HardLink;
    hard.path = "Docs/hard link.txt";
    hard.linkTarget = "hardlinked.txt";
    w.Add(hard);
    w.Add(File("empty.txt", ""));
    w.Add(File(".hidden", TextContent("hidden", 50)));
    w.Add(File("replaced.txt", TextContent("replaced new", 64)));

    w.Add(Deleted(File("Deleted Report.txt", TextContent("report", 3000))));
    w.Add(Folder("Lost", true));
    w.Add(Deleted(File("Lost/inside.txt", TextContent("inside", 1500))));
    w.Add(Folder("Lost/Sub", true));
    w.Add(Deleted(File("Lost/Sub/inner.dat", NoiseContent("inner", 800))));
    w.Add(Deleted(File("Docs/gone away.txt", TextContent("gone", 2222))));
    Entry deletedFragments = Deleted(File("deleted fragmented.bin", TextContent("deleted fragmented", 10 * 4096)));
    deletedFragments.extents = 10;
    w.Add(deletedFragments);
    w.Add(Deleted(Compressed("Compressed/gone z3.txt", TextContent("gone z3", 1800), 3)));
    w.Add(Deleted(Compressed("Compressed/gone z4.bin", Mixed("gone z4", 70000), 4)));
    w.Add(Deleted(Compressed("Compressed/gone v7.txt", TextContent("gone v7", 2600), 7)));
    w.Add(Deleted(Compressed("Compressed/gone v8.bin", Mixed("gone v8", 70000), 8)));
    w.Add(Deleted(File("deleted empty.txt", "")));
    w.Add(Deleted(File("replaced.txt", TextContent("replaced old", 100))));
    Entry twice = Deleted(File("twice.txt", TextContent("twice", 999)));
    twice.journalCopies = 2;
    w.Add(twice);
    return w;
}

Writer Hfsx() {
    Options o;
    o.blockSize = 512;
    o.totalBlocks = 8192;
    o.hfsx = true;
    o.journaled = true;
    o.catalogNodeSize = 4096;
    o.maxLeafRecords = 4;
    o.catalogExtents = 10;
    o.journalSize = 128 * 1024;
    o.volumeName = "CASEFUL";
    Writer w(o);
    w.Add(File("readme.txt", TextContent("hfsx readme", 2500)));
    w.Add(File("ABC.txt", TextContent("ABC", 100)));
    w.Add(File("abc.txt", TextContent("abc", 200)));
    w.Add(File("a:b.txt", TextContent("a:b", 50)));
    w.Add(File("Folder/x.txt", TextContent("x", 4000)));
    w.Add(File("Folder/Y.txt", TextContent("Y", 4100)));
    for (int i = 0; i < 30; ++i) {
        const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
        w.Add(File("Many/file " + n + ".txt", TextContent("many" + n, 100 + 37 * size_t(i))));
    }
    w.Add(Compressed("Folder/z4.bin", Mixed("hfsx z4", 80000), 4));
    w.Add(Compressed("Folder/v8frag.bin", Mixed("v8frag", 70000), 8, false, 12));
    w.Add(Deleted(File("gone.txt", TextContent("hfsx gone", 3333))));
    w.Add(Deleted(File("Many/gone 15.txt", TextContent("hfsx gone 15", 700))));
    return w;
}

Writer Plain() {
    Options o;
    o.blockSize = 4096;
    o.totalBlocks = 512;
    o.catalogNodeSize = 8192;
    o.attributesFile = false;
    o.volumeName = "PLAIN";
    Writer w(o);
    w.Add(File("notes.txt", TextContent("notes", 5000)));
    Entry fragments = File("Data/twenty.bin", TextContent("twenty", 20 * 4096 + 1));
    fragments.extents = 20;
    w.Add(fragments);
    Entry withResource = File("Data/with resource.txt", TextContent("with resource", 900));
    withResource.resource = NoiseContent("resource", 333);
    w.Add(withResource);
    w.Add(File("Data/Deeper/leaf.txt", TextContent("leaf", 12345)));
    return w;
}

std::string KindOf(const Entry& e) {
    switch (e.kind) {
        case Entry::Kind::Symlink: return "symlink";
        case Entry::Kind::HardLink: return "hardlink";
        default: return "file";
    }
}

}  // namespace

std::vector<std::string> FixtureNames() { return {"journaled", "hfsx", "plain"}; }

Writer FixtureWriter(const std::string& name) {
    if (name == "journaled") return Journaled();
    if (name == "hfsx") return Hfsx();
    if (name == "plain") return Plain();
    throw std::runtime_error("no HFS+ fixture " + name);
}

std::vector<Planted> PlantedFiles(const Writer& writer) {
    std::vector<Planted> out;
    for (const Entry& e : writer.Entries()) {
        if (e.kind == Entry::Kind::Folder) continue;
        std::string data = e.data;
        if (e.kind == Entry::Kind::HardLink) {
            for (const Entry& t : writer.Entries())
                if (t.path == e.linkTarget && !t.deleted) data = t.data;
        }
        // A file that hard links name is stored as a link too (its data moves to the private folder).
        std::string kind = KindOf(e);
        for (const Entry& l : writer.Entries())
            if (l.kind == Entry::Kind::HardLink && l.linkTarget == e.path && !e.deleted) kind = "hardlink";
        out.push_back({e.path, data.size(), Sha256Hex(data), e.deleted, e.compression, e.rawStored, e.extents, kind});
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string part; std::getline(in, part, '\t');) fields.push_back(part);
    return fields;
}

std::string FormatPlanted(const std::vector<Planted>& planted) {
    std::ostringstream out;
    for (const Planted& p : planted)
        out << p.path << '\t' << p.size << '\t' << p.sha256 << '\t' << (p.deleted ? 1 : 0) << '\t' << p.compression
            << '\t' << (p.rawStored ? 1 : 0) << '\t' << p.extents << '\t' << p.kind << '\n';
    return out.str();
}

std::vector<Planted> ParsePlanted(const std::string& text) {
    std::vector<Planted> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = SplitTabs(line);
        if (f.size() != 8) continue;
        out.push_back({f[0], std::stoull(f[1]), f[2], f[3] == "1", u32(std::stoul(f[4])), f[5] == "1",
                       u32(std::stoul(f[6])), f[7]});
    }
    return out;
}

std::filesystem::path FixtureImage(const std::string& name) {
    static TempDir dir;
    static std::map<std::string, std::filesystem::path> done;
    auto it = done.find(name);
    if (it != done.end()) return it->second;
    auto path = UnpackXz(FixturePath("hfsplus/" + name + ".img.xz"), dir.path());
    done[name] = path;
    return path;
}

std::vector<Planted> FixturePlanted(const std::string& name) {
    return ParsePlanted(ReadFile(FixturePath("hfsplus/" + name + ".planted.txt")));
}

}  // namespace testsupport::hfs
