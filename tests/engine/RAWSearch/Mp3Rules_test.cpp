// The MP3 analysers: the start rules and their gate, the frame walk of tagged and untagged files, the tag texts, and the gate through the search (33 open guesses, then a
// new frame-synchronised MP3; a second search finds the same files).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "PictureTestSupport.h"
#include "RawTestSupport.h"
#include "RecordingTreeBuilder.h"
#include "engine/RAWSearch/Analysers/Id3Tags.h"
#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Analysers/Mp3Analyzer.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Core/SignatureTable.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"

using pictest::Bytes;

namespace {

constexpr u8 kHeader128[4] = {0xFF, 0xFB, 0x90, 0x00};  // MPEG 1 Layer III, 128 kbit/s, 44.1 kHz: 417 bytes
constexpr u32 kFrame = 417;

// Bytes that hold no zero, no 0xFF and none of "TAG", "ID3", "APE".
Bytes Noise(size_t n, u32 seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<u8>(0x20 + rng() % 0x30);  // ' '..'O' without repeats of 65 in a sector
    return b;
}

// frames frames of 417 bytes with noise payloads.
Bytes Frames(u32 frames, u32 seed) {
    Bytes b = Noise(size_t{frames} * kFrame, seed);
    for (u32 i = 0; i < frames; ++i) memcpy(&b[size_t{i} * kFrame], kHeader128, 4);
    return b;
}

void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void Append(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

Bytes Syncsafe(u32 n) { return {u8((n >> 21) & 0x7F), u8((n >> 14) & 0x7F), u8((n >> 7) & 0x7F), u8(n & 0x7F)}; }

// An ID3v2 tag of major version `major` holding the frames (identifier, data).
Bytes Id3(u8 major, const std::vector<std::pair<std::string, Bytes>>& frames, u32 padding = 32) {
    Bytes body;
    for (const auto& [id, data] : frames) {
        Append(body, id);
        const u32 n = static_cast<u32>(data.size());
        const Bytes size = major == 4 ? Syncsafe(n) : Bytes{u8(n >> 24), u8(n >> 16), u8(n >> 8), u8(n)};
        Append(body, size);
        body.push_back(0);
        body.push_back(0);
        Append(body, data);
    }
    body.resize(body.size() + padding, 0);
    Bytes tag = {'I', 'D', '3', major, 0, 0};
    Append(tag, Syncsafe(static_cast<u32>(body.size())));
    Append(tag, body);
    return tag;
}

Bytes Text(u8 encoding, const std::string& text) {
    Bytes b = {encoding};
    Append(b, text);
    return b;
}

Bytes V1(const std::string& title, const std::string& artist) {
    Bytes b(128, 0);
    memcpy(b.data(), "TAG", 3);
    memcpy(&b[3], title.data(), std::min<size_t>(title.size(), 30));
    memcpy(&b[33], artist.data(), std::min<size_t>(artist.size(), 30));
    return b;
}

struct Guess {
    u64 size = 0;
    long long sector = -1;
    std::string name;
    std::string label;
};

// Accepts the file at sector 0 of the image through AnalyseBufferEx and feeds its record.
Guess Guessed(const Bytes& image, long long blockSectors = 64) {
    BruteForce::MP3Analyzer mp3;
    Guess g;
    CRawFileInfo accepted;
    const long long blockEnd = std::min<long long>(blockSectors, static_cast<long long>(image.size() / 512));
    Bytes block(image.begin(), image.begin() + blockEnd * 512);
    if (mp3.AnalyseBufferEx(block.data(), accepted, 512, 0, 0, blockEnd) == 0) return g;
    std::unique_ptr<CRawFileInfo> record(mp3.CreateRawFileInfo());
    const pictest::FeedResult r = pictest::Feed(*record, &mp3, image, 0, 512, blockSectors);
    g.size = r.size;
    g.sector = r.sector;
    g.name = record->GetRawFileName();
    RAW_FILE_TAG kind = RAW_TAG_NONE;
    record->GetRawFileTagAndValue(kind, g.label);
    EXPECT_EQ(mp3.LastStartSector(), -1) << "every ending path opens the gate";
    return g;
}

TEST(Mp3Rules, StartsAndTheGate) {
    BruteForce::MP3Analyzer mp3;
    Bytes frames = Frames(8, 1);
    frames.resize(4096, 0);
    struct Row {
        const char* what;
        Bytes bytes;
        bool gateSet;  // another frame-synchronised MP3 is followed
        bool accepted;
        long long gateAfter;
    };
    const auto id3 = [](u8 major) {
        Bytes b = Id3(major, {});
        b.resize(4096, 0);
        return b;
    };
    Bytes badSecond = frames;
    badSecond[kFrame] = 0x00;
    Bytes badThird = frames;
    badThird[2 * kFrame + 1] = 0x00;
    const Row rows[] = {
        {"ID3 major 2 refused", id3(2), false, false, -1},
        {"ID3 major 5 refused", id3(5), false, false, -1},
        {"ID3 major 3 accepted", id3(3), false, true, -1},
        {"ID3 major 4 accepted while another MP3 is followed", id3(4), true, true, 7},
        {"a frame start sets the gate", frames, false, true, 5},
        {"a frame start is refused while another MP3 is followed", frames, true, false, 7},
        {"a second header that does not decode", badSecond, false, false, -1},
        {"a third header that does not decode", badThird, false, false, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        mp3.ResetFollowState();
        CRawFileInfo info;
        Bytes block = row.bytes;
        if (row.gateSet) {
            ASSERT_NE(mp3.AnalyseBufferEx(frames.data(), info, 512, 7, 7, 15), 0);
            ASSERT_EQ(mp3.LastStartSector(), 7);
        }
        // The block holds 8 sectors from sector 5.
        EXPECT_EQ(mp3.AnalyseBufferEx(block.data(), info, 512, 5, 5, 13) != 0, row.accepted);
        EXPECT_EQ(mp3.LastStartSector(), row.gateAfter);
        if (row.accepted) { EXPECT_EQ(info.m_type, RAW_TYPE_MP3); }
    }
    // A second header past the block end: accepted unchecked, without setting the gate.
    mp3.ResetFollowState();
    CRawFileInfo info;
    Bytes one(frames.begin(), frames.begin() + 512);
    EXPECT_NE(mp3.AnalyseBufferEx(one.data(), info, 512, 5, 5, 6), 0);
    EXPECT_EQ(mp3.LastStartSector(), -1);
}

TEST(Mp3Rules, TaggedFilesAreWalkedFromTheTagsEnd) {
    // The frames after an ID3v2 tag are walked as those of an untagged file: the file ends after its last
    // frame (and its ID3v1 tag), whatever follows, however short it is, at any offset within a sector.
    const Bytes tag = Id3(3, {{"TPE1", Text(0, "Band")}, {"TIT2", Text(0, "Song")}});
    struct Row {
        const char* what;
        u32 frames;
        size_t gap;  // zero bytes between the tag and the first frame
        bool v1;
        Bytes after;  // what follows the file at once
    };
    const Row rows[] = {
        {"a long file followed by noise", 80, 0, false, Noise(3000, 8)},
        {"a short file (under 20 KB) followed by noise", 3, 0, false, Noise(3000, 8)},
        {"zero bytes between the tag and the first frame", 10, 300, false, Noise(3000, 8)},
        {"an ID3v1 tag after the frames, then zeros", 12, 0, true, Bytes(1024, 0)},
        {"followed by another tagged file", 5, 0, false, tag},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes file = tag;
        file.resize(file.size() + row.gap, 0);
        Append(file, Frames(row.frames, 3));
        if (row.v1) Append(file, V1("Other", "Someone"));
        const u64 size = file.size();
        Append(file, row.after);
        file.resize(file.size() + 40 * 512, 0);
        const Guess g = Guessed(file);
        EXPECT_EQ(g.size, size);
        EXPECT_EQ(g.name, "Band_Song 0_") << "the ID3v2 tag names it";
        EXPECT_EQ(g.label, "Band");
    }
    // A tag without frames after it is no MP3 the walk can size: the device analyser takes it over.
    Bytes file = tag;
    Append(file, Noise(30000, 3));
    file.resize(file.size() + 40 * 512, 0);
    EXPECT_EQ(Guessed(file).size, 0u);
}

TEST(Mp3Rules, AnId3v1TagNamesAnUntaggedFile) {
    // A frame-synchronised file without an ID3v2 tag takes its name from its ID3v1 strings.
    Bytes file = Frames(40, 4);
    Append(file, V1("Title", "Someone Else"));
    const u64 size = file.size();
    file.resize(file.size() + 20 * 512, 0);
    const Guess g = Guessed(file);
    EXPECT_EQ(g.size, size);
    EXPECT_EQ(g.name, "Someone Else_Title");
    EXPECT_EQ(g.label, "Someone Else");
}

TEST(Mp3Rules, TheFrameWalkSizesFrameStartsAndDropsShortOnes) {
    struct Row {
        const char* what;
        u32 frames;
        bool v1;
        u64 size;
        const char* name;
    };
    const Row rows[] = {
        {"80 frames", 80, false, 80 * kFrame, "0-65_"},
        {"80 frames and an ID3v1 tag", 80, true, 80 * kFrame + 128, "Walker_Steps"},
        {"24 frames are below 10,240 bytes", 24, false, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes file = Frames(row.frames, 7);
        if (row.v1) Append(file, V1("Steps", "Walker"));
        file.resize(file.size() + 20 * 512, 0);
        for (const long long block : {64LL, 5LL}) {
            const Guess g = Guessed(file, block);
            EXPECT_EQ(g.size, row.size) << block;
            if (row.size != 0) { EXPECT_EQ(g.name, row.name); }
            if (row.v1) { EXPECT_EQ(g.label, "Walker"); }
        }
    }
}

TEST(Mp3Rules, TagTextsInEveryEncoding) {
    Bytes be = {1, 0xFE, 0xFF};
    for (const u16 unit : {u16{'B'}, u16{0xF8}, u16{'r'}, u16{'n'}}) {
        be.push_back(static_cast<u8>(unit >> 8));
        be.push_back(static_cast<u8>(unit));
    }
    Bytes le = {1, 0xFF, 0xFE};
    for (const u16 unit : {u16{'Z'}, u16{0xEB}}) {
        le.push_back(static_cast<u8>(unit));
        le.push_back(static_cast<u8>(unit >> 8));
    }
    struct Row {
        const char* what;
        Bytes data;
        const char* text;
    };
    const Row rows[] = {
        {"UTF-16 with the big-endian mark", be, "B\xC3\xB8rn"},
        {"UTF-16 with the little-endian mark", le, "Z\xC3\xAB"},
        {"UTF-16 without a mark", {1, 'A', 0, 'B', 0}, ""},
        {"encoding 2", {2, 0, 'A', 0, 'B'}, ""},
        {"UTF-8", Text(3, "Caf\xC3\xA9"), "Caf\xC3\xA9"},
        {"UTF-8 that is not", Text(3, "Caf\xE9!"), "Caf_!"},
        {"UTF-8 made only of high bytes", Text(3, "\xE9\xE9"), ""},
        {"ASCII", Text(0, "Plain Text"), "Plain Text"},
        {"GBK", Text(0, "\xD6\xDC\xBD\xDC\xC2\xD7\xBA\xCD\xCB\xFB\xB5\xC4\xC5\xF3\xD3\xD1\xC3\xC7"),
         "\xE5\x91\xA8\xE6\x9D\xB0\xE4\xBC\xA6\xE5\x92\x8C\xE4\xBB\x96\xE7\x9A\x84\xE6\x9C\x8B\xE5\x8F\x8B\xE4\xBB\xAC"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string charset;
        EXPECT_EQ(id3::FrameText(ByteReader(row.data.data(), row.data.size()), charset, true), row.text);
    }
}

TEST(Mp3Rules, Id3v24FrameSizesAreSynchsafeAndLyricsNameTheArtist) {
    // A v2.4 frame of 200 bytes (synchsafe 0x00000148, plain 0x148 would be 328) before the texts.
    const Bytes v24 = Id3(4, {{"TALB", Text(0, std::string(199, 'A'))}, {"TPE1", Text(0, "Four")},
                              {"TIT2", Text(0, "Safe")}});
    const Bytes lyrics = Id3(3, {{"TIT2", Text(0, "Night")},
                                 {"USLT", Text(0, std::string("eng\0[ar:Lyric Singer]\n[ti:Night]", 33))}});
    struct Row {
        const char* what;
        Bytes tag;
        const char* artist;
        const char* title;
    };
    const Row rows[] = {{"v2.4", v24, "Four", "Safe"}, {"USLT without TPE1", lyrics, "Lyric Singer", "Night"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        id3::TagInfo info;
        id3::ReadTag(ByteReader(row.tag.data(), row.tag.size()), info);
        EXPECT_EQ(info.artist, row.artist);
        EXPECT_EQ(info.title, row.title);
    }
}

TEST(Mp3Rules, TheDeviceAnalyserMeasuresFramesTagsAndXing) {
    FileMP3Analyser file;
    // A frame start with an ID3v1 tag, measured from the device.
    Bytes frames = Frames(60, 11);
    Append(frames, V1("Dev Title", "Dev Artist"));
    auto r = pictest::Measure(file, pictest::Placed(frames, 0, 80));
    EXPECT_EQ(r.size, 60 * kFrame + 128);
    EXPECT_EQ(r.name, "Dev Artist_Dev Title");
    // A start inside the file just measured is refused, until the state is reset.
    file.ResetFollowState();
    const Bytes image = pictest::Placed(frames, 0, 80);
    EXPECT_EQ(pictest::Measure(file, image, 0).size, 60 * kFrame + 128);
    Bytes inner = Frames(40, 12);
    Bytes nested = image;
    memcpy(&nested[5 * 512], inner.data(), inner.size());
    EXPECT_EQ(pictest::Measure(file, nested, 5).size, 0u);
    file.ResetFollowState();
    EXPECT_NE(pictest::Measure(file, nested, 5).size, 0u);
    // An ID3v2 start: tag, frames (found again after a few stray bytes), then the ID3v1 tag.
    const Bytes head = Id3(3, {{"TPE1", Text(0, "Tag Artist")}, {"TIT2", Text(0, "Tag Title")}});
    Bytes tagged = head;
    Append(tagged, Frames(30, 13));
    Append(tagged, Bytes{1, 2, 3});
    Append(tagged, Frames(30, 14));
    Append(tagged, V1("x", "y"));
    const size_t whole = tagged.size();
    tagged.resize((tagged.size() + 511) / 512 * 512, 0);  // the ID3v1 tag is followed by zeros only
    r = pictest::Measure(file, pictest::Placed(tagged, 0, 80));
    EXPECT_EQ(r.size, whole);
    EXPECT_EQ(r.name, "Tag Artist_Tag Title");
    // A Xing frame: its byte count gives the size, and the ID3v1 tag after it names the file.
    Bytes xing = Frames(60, 15);
    xing[2] = 0xB0;  // 192 kbit/s
    memcpy(&xing[36], "Xing", 4);
    const u32 count = 20000;
    xing[48] = 0;
    xing[49] = 0;
    xing[50] = static_cast<u8>(count >> 8);
    xing[51] = static_cast<u8>(count);
    const Bytes v1 = V1("Xing Title", "Xing Artist");
    memcpy(&xing[count], v1.data(), v1.size());
    r = pictest::Measure(file, pictest::Placed(xing, 0, 80));
    EXPECT_EQ(r.size, count + 128u);
    EXPECT_EQ(r.name, "Xing Artist_Xing Title");
}

TEST(Mp3Rules, EveryMp3RowHasItsFactory) {
    int rows = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (std::string(row.analyser) != "BruteForce::MP3Analyzer") continue;
        ++rows;
        ASSERT_NE(row.create, nullptr) << row.key;
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        EXPECT_EQ(analyser->GetDefaultType(), 43);
        EXPECT_NE(analyser->GetSpecialRawFile(), nullptr);
    }
    EXPECT_EQ(rows, 19);  // "ID" and the 18 frame-sync keys
}

// Runs a whole search over the image; found files by start sector (size and name).
std::map<i64, std::pair<i64, std::string>> Search(CRAWSearchController& controller, rawtest::MemoryDevice& device) {
    rawtest::RecordingTreeBuilder builder;
    controller.SetDevice(&device);
    controller.SetBlockSize(64);
    controller.SetDirecotryTreeBuilder(&builder);
    EXPECT_EQ(controller.PreparetoSearch(), 1);
    for (i64 s = 0; s < device.GetTotalSectors(); s += 64) {
        controller.AnalyzeBlock(s, std::min<i64>(64, device.GetTotalSectors() - s));
    }
    controller.EndSearch(1);
    std::map<i64, std::pair<i64, std::string>> found;
    for (auto& r : builder.received) {
        if (r.directory) continue;
        DataRun* run = static_cast<CRAWFileNode*>(r.node)->GetDataRunList()->GetFirst();
        if (run != nullptr) found[run->start] = {r.size, r.name};
    }
    return found;
}

TEST(Mp3Rules, AnEvictedMp3NeverBlocksLaterOnesAndASecondSearchFindsTheSame) {
    // MP3 A (80 frames from sector 0), with 32 ID3 starts written over the first bytes of sectors that
    // lie inside its frames: 33 open guesses evict A while it is followed. Then zeros, and MP3 B.
    Bytes image = Frames(80, 21);
    int planted = 0;
    for (size_t s = 1; planted < 32 && s * 512 + 16 < image.size(); ++s) {
        const size_t at = s * 512;
        if (at % kFrame + 10 >= kFrame || at % kFrame < 4) continue;  // keep the frame headers
        const Bytes id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0x10};
        memcpy(&image[at], id3.data(), id3.size());
        ++planted;
    }
    ASSERT_EQ(planted, 32);
    image.resize((image.size() + 511) / 512 * 512 + 64 * 512, 0);
    const i64 bStart = static_cast<i64>(image.size() / 512);
    Append(image, Frames(40, 22));
    image.resize((image.size() + 511) / 512 * 512 + 64 * 512, 0);
    rawtest::MemoryDevice device(image);
    CRAWSearchController controller;
    const auto first = Search(controller, device);
    ASSERT_EQ(first.count(bStart), 1u) << "the later frame-synchronised MP3 is found";
    EXPECT_EQ(first.at(bStart).first, 40 * kFrame);
    ASSERT_EQ(first.count(0), 1u) << "the evicted MP3 is measured from the device";
    EXPECT_EQ(first.at(0).first, 80 * kFrame);
    CRAWSearchController again;
    EXPECT_EQ(Search(again, device), first);
}

}  // namespace
