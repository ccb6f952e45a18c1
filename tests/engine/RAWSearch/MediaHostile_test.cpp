// The box-media analysers on hostile bytes: a table of corrupt files run through the start tests, the
// streaming box walk and the device walk, then a bounded smoke of mutated copies of a valid file.
// Sectors and blocks lie in memory of exactly their size, so a read past them is an AddressSanitizer
// error; every walk must end.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "PictureTestSupport.h"
#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Analysers/MovAnalyzer.h"
#include "engine/RAWSearch/Analysers/Mp4Analyzer.h"
#include "support/PutBytes.h"

using namespace pictest;
using testsupport::PutInto;

namespace {

void PutText(Bytes& b, size_t at, const char* text) {
    if (b.size() < at + strlen(text)) b.resize(at + strlen(text), 0);
    memcpy(&b[at], text, strlen(text));
}

// An ISO file: ftyp (isom, avc1), moov of 1200 bytes, mdat of 3000 bytes.
Bytes Valid() {
    Bytes b(4232, 0);
    PutInto(b).Be32(0, 32);
    PutText(b, 4, "ftypisom");
    PutText(b, 16, "isomiso2avc1mp41");
    PutInto(b).Be32(32, 1200);
    PutText(b, 36, "moov");
    PutInto(b).Be32(1232, 3000);
    PutText(b, 1236, "mdat");
    return b;
}

// Runs every entry point over the image (file at sector 0); the answers must be bounded.
void RunAll(const Bytes& image, long long blockSectors) {
    BruteForce::MovAnalyzer mov;
    BruteForce::Mp4Analyzer mp4;
    BruteForce::C3GPAnalyser gp;
    for (IRawFileAnalyser* a : {static_cast<IRawFileAnalyser*>(&mov), static_cast<IRawFileAnalyser*>(&mp4),
                                static_cast<IRawFileAnalyser*>(&gp)}) {
        const FeedResult r = Carve(*a, image, 0, 512, blockSectors);
        (void)r;
    }
    FileMP4Analyser file;
    const FeedResult m = Measure(file, image);
    (void)m;
}

TEST(MediaHostile, CorruptBoxFilesAreWalkedSafely) {
    struct Row {
        const char* what;
        void (*patch)(Bytes&);
        u64 walkSize;    // the streaming walk's answer (MOV analyser)
        u64 deviceSize;  // the device walk's answer
    };
    const Row rows[] = {
        {"a box of size 0", [](Bytes& b) { PutInto(b).Be32(1232, 0); }, 1232, 1232},
        {"a box of size 1 with a huge 64-bit size",
         [](Bytes& b) {
             PutInto(b).Be32(1232, 1);
             PutInto(b).Be64(1240, 0x4000000000000000ULL);
         },
         1232 + 0x4000000000000000ULL, 1232 + 0x4000000000000000ULL},
        {"a 64-bit size that overflows the offset",
         [](Bytes& b) {
             PutInto(b).Be32(1232, 1);
             PutInto(b).Be64(1240, 0xFFFFFFFFFFFFFFFFULL);
         },
         1232, 0},
        {"a box past the device end", [](Bytes& b) { PutInto(b).Be32(1232, 0x7FFFFFFF); }, 1232 + 0x7FFFFFFFULL,
         1232 + 0x7FFFFFFFULL},
        {"a negative 32-bit size", [](Bytes& b) { PutInto(b).Be32(32, 0x80000000); }, 0, 32},
        {"an empty moov followed by zeros", [](Bytes& b) { PutInto(b).Be32(32, 8); }, 40, 40},
        {"an Exif block with an IFD offset past the block",
         [](Bytes& b) {
             PutText(b, 100, "Exif");
             PutText(b, 106, "MM");
             PutInto(b).Be32(110, 0xFFFFFFF0);
         },
         4232, 4232},
        {"an Exif block with 65535 entries",
         [](Bytes& b) {
             PutText(b, 100, "Exif");
             PutText(b, 106, "II");
             b[110] = 8;
             b[114] = 0xFF;
             b[115] = 0xFF;
         },
         4232, 4232},
        {"an Exif make whose text lies past the block",
         [](Bytes& b) {
             PutText(b, 100, "Exif");
             PutText(b, 106, "MM");
             PutInto(b).Be32(110, 8);
             b[115] = 1;             // one entry
             b[116] = 0x01;          // tag 271
             b[117] = 0x0F;
             b[119] = 2;             // ASCII
             PutInto(b).Be32(120, 0xFFFF);  // count
             PutInto(b).Be32(124, 0x7FFFFFF0);
         },
         4232, 4232},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes file = Valid();
        row.patch(file);
        const Bytes image = Placed(file, 0, 16);
        for (long long block : {1LL, 3LL, 64LL}) RunAll(image, block);
        BruteForce::MovAnalyzer mov;
        std::unique_ptr<CRawFileInfo> record(mov.CreateRawFileInfo());
        Bytes first(image.begin(), image.begin() + 512);
        CRawFileInfo accepted;
        if (mov.AnalyseBuffer(first.data(), accepted) == 1) {
            const FeedResult r = Carve(mov, image, 0, 512, 64);
            EXPECT_EQ(r.size, row.walkSize);
        }
        FileMP4Analyser device;
        EXPECT_EQ(Measure(device, image).size, row.deviceSize);
    }
}

TEST(MediaHostile, MutatedFilesSmoke) {
    std::mt19937 rng(22);
    const Bytes valid = Valid();
    for (int round = 0; round < 300; ++round) {
        Bytes file = valid;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = rng() % 1300;  // the boxes' headers and the moov
            file[at] = static_cast<u8>(rng());
        }
        RunAll(Placed(file, 0, 16), 1 + static_cast<long long>(rng() % 8));
    }
}

}  // namespace
