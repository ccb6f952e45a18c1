// The MP3 analysers on hostile bytes: ID3 sizes past the window and the device, frame sizes that lie,
// frame headers that chain through the whole image, then a bounded smoke of mutated copies. Sectors and
// blocks lie in memory of exactly their size (a read past them is an AddressSanitizer error); every walk
// must end.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "PictureTestSupport.h"
#include "engine/RAWSearch/Analysers/Mp3Analyzer.h"

using namespace pictest;

namespace {

void Put(Bytes& b, size_t at, std::initializer_list<u8> bytes) {
    if (b.size() < at + bytes.size()) b.resize(at + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
}
void PutText(Bytes& b, size_t at, const char* text) {
    if (b.size() < at + strlen(text)) b.resize(at + strlen(text), 0);
    memcpy(&b[at], text, strlen(text));
}

// An ID3v2.3 tag of 100 bytes (TPE1, TIT2, APIC), 40 frames of 417 bytes, an ID3v1 tag.
Bytes Valid() {
    Bytes b;
    PutText(b, 0, "ID3");
    Put(b, 3, {3, 0, 0, 0, 0, 0, 90});
    PutText(b, 10, "TPE1");
    Put(b, 14, {0, 0, 0, 5, 0, 0, 0});
    PutText(b, 21, "Band");
    PutText(b, 25, "TIT2");
    Put(b, 29, {0, 0, 0, 5, 0, 0, 0});
    PutText(b, 36, "Song");
    PutText(b, 40, "APIC");
    Put(b, 44, {0, 0, 0, 20, 0, 0, 0});
    PutText(b, 51, "image/jpeg");
    Put(b, 62, {0xFF, 0xD8, 0xFF, 0xE0});
    b.resize(100, 0);
    std::mt19937 rng(5);
    for (int f = 0; f < 40; ++f) {
        const size_t at = b.size();
        b.resize(at + 417);
        for (size_t i = at; i < b.size(); ++i) b[i] = static_cast<u8>(0x20 + rng() % 0x30);
        Put(b, at, {0xFF, 0xFB, 0x90, 0x00});
    }
    const size_t v1 = b.size();
    b.resize(v1 + 128, 0);
    PutText(b, v1, "TAGTitle");
    PutText(b, v1 + 33, "Artist");
    return b;
}

struct Answer {
    u64 guessed = 0;
    u64 measured = 0;
};

// Every entry point over the image (file at sector 0).
Answer RunAll(const Bytes& image, long long blockSectors) {
    Answer a;
    BruteForce::MP3Analyzer mp3;
    const long long total = static_cast<long long>(image.size() / 512);
    const long long blockEnd = std::min(blockSectors, total);
    Bytes block(image.begin(), image.begin() + blockEnd * 512);
    CRawFileInfo accepted;
    mp3.AnalyseBuffer(block.data(), accepted);
    if (mp3.AnalyseBufferEx(block.data(), accepted, 512, 0, 0, blockEnd) != 0) {
        std::unique_ptr<CRawFileInfo> record(mp3.CreateRawFileInfo());
        a.guessed = Feed(*record, &mp3, image, 0, 512, blockSectors).size;
    }
    FileMP3Analyser file;
    a.measured = Measure(file, image).size;
    return a;
}

TEST(Mp3Hostile, CorruptTagsAndFramesAreReadSafely) {
    struct Row {
        const char* what;
        void (*patch)(Bytes&);
    };
    const Row rows[] = {
        {"a tag size far past the window and the device", [](Bytes& b) { Put(b, 6, {0x7F, 0x7F, 0x7F, 0x7F}); }},
        {"a tag size that is not synchsafe", [](Bytes& b) { Put(b, 6, {0x80, 0, 0, 0}); }},
        {"a frame size past the tag", [](Bytes& b) { Put(b, 14, {0x3F, 0xFF, 0xFF, 0xFF}); }},
        {"a frame size above 1 GiB", [](Bytes& b) { Put(b, 14, {0xFF, 0xFF, 0xFF, 0xFF}); }},
        {"a v2.4 frame size that is not synchsafe",
         [](Bytes& b) {
             b[3] = 4;
             Put(b, 14, {0, 0, 0x80, 5});
         }},
        {"an APIC frame larger than the file", [](Bytes& b) { Put(b, 44, {0x3F, 0, 0, 0}); }},
        {"USLT with [ar: and no closing bracket",
         [](Bytes& b) {
             PutText(b, 40, "USLT");
             Put(b, 44, {0, 0, 0, 40, 0, 0});
             PutText(b, 50, "\0eng\0[ar:no end here and more text");
         }},
        {"UTF-16 text of odd length with the big-endian mark",
         [](Bytes& b) {
             Put(b, 14, {0, 0, 0, 4, 0, 0, 1, 0xFE, 0xFF, 0x41});
         }},
        {"a footer flag on a tag that ends at the window", [](Bytes& b) { b[5] = 0x10; }},
        {"the ID3v1 tag cut by the device end", [](Bytes& b) { b.erase(b.end() - 100, b.end()); }},
        {"APETAGEX after the frames",
         [](Bytes& b) { PutText(b, b.size() - 128, "APETAGEX\xD0"); }},
        {"a Xing count past the device",
         [](Bytes& b) {
             b.erase(b.begin(), b.begin() + 100);
             Put(b, 2, {0xB0});
             PutText(b, 36, "Xing");
             Put(b, 48, {0xFF, 0xFF, 0xFF, 0xF0});
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes file = Valid();
        row.patch(file);
        const Bytes image = Placed(file, 0, 48);
        for (long long block : {1LL, 3LL, 64LL}) RunAll(image, block);
    }
}

TEST(Mp3Hostile, FramesThatChainThroughTheWholeImageEnd) {
    // 4 MiB of back-to-back frames of the smallest size (MPEG 2.5 Layer III 8 kbit/s at 8 kHz, 72
    // bytes): the record's walk is bounded per call and the device walk ends at the device end.
    Bytes image(4 << 20);
    for (size_t at = 0; at + 72 <= image.size(); at += 72) {
        Put(image, at, {0xFF, 0xE3, 0x18, 0x00});
        for (size_t i = 4; i < 72; ++i) image[at + i] = 0x55;
    }
    const Answer a = RunAll(image, 8192);
    EXPECT_LE(a.measured, image.size());
    EXPECT_LE(a.guessed, image.size());
}

TEST(Mp3Hostile, MutatedFilesSmoke) {
    std::mt19937 rng(22);
    const Bytes valid = Valid();
    for (int round = 0; round < 400; ++round) {
        Bytes file = valid;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            // The tag and the first frames mostly, sometimes anywhere.
            const size_t at = rng() % 4 == 0 ? rng() % file.size() : rng() % 1000;
            file[at] = static_cast<u8>(rng());
        }
        RunAll(Placed(file, 0, 48), 1 + static_cast<long long>(rng() % 8));
    }
}

}  // namespace
