#include "RawTestSupport.h"
#include "support/PutBytes.h"

#include <random>

using testsupport::AppendTo;

namespace rawtest {
namespace {

struct Entry {
    unsigned tag, format, count;
    std::vector<unsigned char> data;  // raw value bytes (big-endian)
};

Entry Ascii(unsigned tag, const std::string& s) {
    Entry e{tag, 2, static_cast<unsigned>(s.size() + 1), {}};
    e.data.assign(s.begin(), s.end());
    e.data.push_back(0);
    return e;
}
Entry Long(unsigned tag, unsigned value) {
    Entry e{tag, 4, 1, {}};
    AppendTo(e.data).Be32(u32(value));
    return e;
}

// Writes a directory at the current end of tiff; values longer than 4 bytes follow it.
// Returns the offsets of each entry's value field so that pointers can be patched.
std::vector<size_t> WriteDir(std::vector<unsigned char>& tiff, const std::vector<Entry>& entries, unsigned next) {
    const size_t start = tiff.size();
    AppendTo(tiff).Be16(u16(static_cast<unsigned>(entries.size())));
    size_t valueArea = start + 2 + entries.size() * 12 + 4;
    std::vector<unsigned char> extra;
    std::vector<size_t> fields;
    for (const Entry& e : entries) {
        AppendTo(tiff).Be16(u16(e.tag));
        AppendTo(tiff).Be16(u16(e.format));
        AppendTo(tiff).Be32(u32(e.count));
        fields.push_back(tiff.size());
        if (e.data.size() <= 4) {
            std::vector<unsigned char> d = e.data;
            d.resize(4, 0);
            tiff.insert(tiff.end(), d.begin(), d.end());
        } else {
            AppendTo(tiff).Be32(u32(static_cast<unsigned>(valueArea + extra.size())));
            extra.insert(extra.end(), e.data.begin(), e.data.end());
            if (extra.size() % 2) extra.push_back(0);
        }
    }
    AppendTo(tiff).Be32(u32(next));
    tiff.insert(tiff.end(), extra.begin(), extra.end());
    return fields;
}

void Patch32(std::vector<unsigned char>& v, size_t at, unsigned x) {
    v[at] = static_cast<unsigned char>(x >> 24);
    v[at + 1] = static_cast<unsigned char>(x >> 16);
    v[at + 2] = static_cast<unsigned char>(x >> 8);
    v[at + 3] = static_cast<unsigned char>(x);
}

std::vector<unsigned char> MakeExifSegment(const JpegRecipe& recipe) {
    std::vector<unsigned char> tiff = {'M', 'M', 0, 0x2A, 0, 0, 0, 8};
    std::vector<Entry> ifd0;
    if (!recipe.make.empty()) ifd0.push_back(Ascii(0x010F, recipe.make));
    if (!recipe.model.empty()) ifd0.push_back(Ascii(0x0110, recipe.model));
    ifd0.push_back(Long(0x8769, 0));
    auto fields0 = WriteDir(tiff, ifd0, 0);
    const size_t ifd0Link = 8 + 2 + ifd0.size() * 12;
    // The Exif directory.
    Patch32(tiff, fields0.back(), static_cast<unsigned>(tiff.size()));
    std::vector<Entry> exifDir;
    if (!recipe.date.empty()) exifDir.push_back(Ascii(0x9003, recipe.date));
    if (recipe.exifWidth != 0) exifDir.push_back(Long(0xA002, recipe.exifWidth));
    if (recipe.exifHeight != 0) exifDir.push_back(Long(0xA003, recipe.exifHeight));
    if (exifDir.empty()) exifDir.push_back(Long(0x8827, 100));
    WriteDir(tiff, exifDir, 0);
    if (recipe.thumbnail) {
        Patch32(tiff, ifd0Link, static_cast<unsigned>(tiff.size()));
        std::vector<Entry> ifd1 = {Long(0x0201, 0), Long(0x0202, 0)};
        auto fields1 = WriteDir(tiff, ifd1, 0);
        std::vector<unsigned char> thumb = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00};
        thumb.resize(600, 0x55);
        thumb.push_back(0xFF);
        thumb.push_back(0xD9);
        Patch32(tiff, fields1[0], static_cast<unsigned>(tiff.size()));
        Patch32(tiff, fields1[1], static_cast<unsigned>(thumb.size()));
        tiff.insert(tiff.end(), thumb.begin(), thumb.end());
    }
    std::vector<unsigned char> seg = {0xFF, 0xE1};
    AppendTo(seg).Be16(u16(static_cast<unsigned>(tiff.size() + 8)));
    const char hdr[6] = {'E', 'x', 'i', 'f', 0, 0};
    seg.insert(seg.end(), hdr, hdr + 6);
    seg.insert(seg.end(), tiff.begin(), tiff.end());
    return seg;
}

}  // namespace

std::vector<unsigned char> MakeJpeg(const JpegRecipe& recipe) {
    std::vector<unsigned char> out = {0xFF, 0xD8};
    if (!recipe.exif || recipe.exifAfterJfif) {
        const unsigned char app0[] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
        out.insert(out.end(), app0, app0 + sizeof(app0));
    }
    if (recipe.exif || recipe.exifAfterJfif) {
        auto seg = MakeExifSegment(recipe);
        out.insert(out.end(), seg.begin(), seg.end());
    }
    // A quantisation table.
    out.insert(out.end(), {0xFF, 0xDB, 0x00, 0x43, 0x00});
    for (int i = 0; i < 64; ++i) out.push_back(static_cast<unsigned char>(1 + i));
    // The frame header.
    out.push_back(0xFF);
    out.push_back(recipe.progressive ? 0xC2 : 0xC0);
    AppendTo(out).Be16(u16(17));
    out.push_back(8);
    AppendTo(out).Be16(u16(recipe.height));
    AppendTo(out).Be16(u16(recipe.width));
    out.push_back(3);
    for (int c = 1; c <= 3; ++c) out.insert(out.end(), {static_cast<unsigned char>(c), 0x11, 0x00});
    std::mt19937 rng(recipe.seed);
    const int scans = recipe.progressive ? 3 : 1;
    for (int s = 0; s < scans; ++s) {
        out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
        for (size_t i = 0; i < recipe.scanBytes / scans; ++i) {
            unsigned char b = static_cast<unsigned char>(rng() & 0xFF);
            if (b == 0) b = 1;
            out.push_back(b);
            if (b == 0xFF) out.push_back(0x00);
        }
    }
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

}  // namespace rawtest
