// Small files of the stream-walking audio and video formats, laid out byte by byte from their
// published layouts, for the rules, hostile and search tests.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "OfficeTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"

namespace streamtest {

using officetest::Bytes;
using officetest::Random;

inline void PutBe(Bytes& f, u64 v, int n) {
    for (int i = n - 1; i >= 0; --i) f.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void PutLe(Bytes& f, u64 v, int n) {
    for (int i = 0; i < n; ++i) f.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void Put(Bytes& f, const Bytes& b) { f.insert(f.end(), b.begin(), b.end()); }
inline void Put(Bytes& f, const void* p, size_t n) {
    const auto* c = static_cast<const unsigned char*>(p);
    f.insert(f.end(), c, c + n);
}

// Flash video of tags (type, data size); the previous-tag size before the first tag is firstPrevious,
// and the one before tag badChainAt (when >= 1) is one more than it should be.
inline Bytes Flv(const std::vector<std::pair<u8, u32>>& tags, u32 firstPrevious = 0, int badChainAt = -1) {
    Bytes f = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9};
    PutBe(f, firstPrevious, 4);
    unsigned seed = 90;
    for (size_t i = 0; i < tags.size(); ++i) {
        const auto [type, size] = tags[i];
        f.push_back(type);
        PutBe(f, size, 3);
        PutBe(f, 0, 4 + 3);
        Put(f, Random(size, seed++));
        const bool bad = static_cast<int>(i + 1) == badChainAt;
        PutBe(f, 11 + size + (bad ? 1 : 0), 4);
    }
    return f;
}

// An MPEG-1 program stream: packs (the 12-byte pack header, bytes 4..7 as given) each with one
// packet of payload bytes, a system header after the first pack when asked, then the end code.
inline Bytes Mpg(int packs, u16 payload, bool systemHeader = false,
                 const unsigned char* form = mpg_layout::kAccepted[0]) {
    Bytes f;
    unsigned seed = 109;
    for (int p = 0; p < packs; ++p) {
        Put(f, "\x00\x00\x01\xBA", 4);
        Put(f, form, 4);
        Put(f, "\x01\x89\xC3\xF8", 4);
        if (systemHeader && p == 0) {
            Put(f, "\x00\x00\x01\xBB\x00\x06", 6);
            Put(f, "\x80\x1F\x41\x04\xE1\xFF", 6);
        }
        Put(f, "\x00\x00\x01\xE0", 4);
        PutBe(f, payload, 2);
        Bytes body = Random(payload, seed++);
        for (unsigned char& b : body) b |= 0x80;  // no start code inside
        Put(f, body);
    }
    Put(f, "\x00\x00\x01\xB9", 4);
    return f;
}

// Ogg pages, each given by its segment table.
inline Bytes Ogg(const std::vector<std::vector<u8>>& pages) {
    Bytes f;
    unsigned seed = 82;
    for (const auto& table : pages) {
        Put(f, "OggS", 4);
        Bytes header = Random(22, seed++);
        Put(f, header);
        f.push_back(static_cast<unsigned char>(table.size()));
        Put(f, table);
        size_t body = 0;
        for (u8 s : table) body += s;
        Put(f, Random(body, seed++));
    }
    return f;
}

// An ASF file: the header with a child of another kind and one Stream Properties Object per stream
// type given, a data object of dataSize bytes and, when asked, a simple index.
inline Bytes Asf(const std::vector<const unsigned char*>& streams, u64 dataSize, bool simpleIndex = true) {
    Bytes children;
    static const unsigned char kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                      0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    Put(children, kFileProperties, 16);
    PutLe(children, 104, 8);
    Put(children, Random(80, 6));
    for (const unsigned char* type : streams) {
        Put(children, asf_layout::kStreamProperties, 16);
        PutLe(children, 78, 8);
        Put(children, type, 16);
        Put(children, Bytes(78 - 40, 0));
    }
    Bytes f;
    Put(f, asf_layout::kHeader, 16);
    PutLe(f, 30 + children.size(), 8);
    PutLe(f, streams.size() + 1, 4);
    Put(f, "\x01\x02", 2);
    Put(f, children);
    Put(f, asf_layout::kTopLevel[0], 16);
    PutLe(f, dataSize, 8);
    Put(f, Random(dataSize - 24, 7));
    if (simpleIndex) {
        Put(f, asf_layout::kTopLevel[1], 16);
        PutLe(f, 56, 8);
        Put(f, Bytes(32, 1));
    }
    return f;
}

// A transport stream of packets of 188 bytes, or 192 with a time code before each.
inline Bytes Ts(size_t packets, u64 packetSize) {
    Bytes f;
    unsigned seed = 129;
    for (size_t i = 0; i < packets; ++i) {
        if (packetSize == 192) PutBe(f, 0x10000000u + static_cast<u32>(i) * 300, 4);
        f.push_back(0x47);
        f.push_back(i == 0 ? 0x40 : 0x01);
        f.push_back(0x00);
        f.push_back(0x10);
        Put(f, Random(184, seed++));
    }
    return f;
}

// AAC in ADTS frames of the given lengths (headers included).
inline Bytes Adts(const std::vector<u32>& lengths) {
    Bytes f;
    unsigned seed = 45;
    for (u32 len : lengths) {
        f.push_back(0xFF);
        f.push_back(0xF1);
        f.push_back(0x50);
        f.push_back(static_cast<unsigned char>(0x80 | ((len >> 11) & 0x03)));
        f.push_back(static_cast<unsigned char>(len >> 3));
        f.push_back(static_cast<unsigned char>(((len & 7) << 5) | 0x1F));
        f.push_back(0xFC);
        Bytes body = Random(len - 7, seed++);
        for (unsigned char& b : body) b &= 0x7F;  // no sync inside
        Put(f, body);
    }
    return f;
}

// MXF: a header partition pack (minor version as given), then KLV packets of the given BER length
// forms (0 for the short form; else the count of length bytes) and value lengths.
inline Bytes Mxf(const std::vector<std::pair<int, u32>>& packets, u16 minorVersion = 0) {
    Bytes f;
    Put(f, "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02\x04\x00", 16);
    f.push_back(0x83);
    PutBe(f, 88, 3);
    PutBe(f, 1, 2);
    PutBe(f, minorVersion, 2);
    PutBe(f, 512, 4);
    Put(f, Bytes(8 * 4, 0));
    Put(f, Bytes(88 - 4 - 4 - 32, 0));
    unsigned seed = 142;
    for (const auto& [form, length] : packets) {
        Put(f, "\x06\x0E\x2B\x34\x01\x02\x01\x01\x0D\x01\x03\x01\x15\x01\x05\x00", 16);
        if (form == 0) {
            f.push_back(static_cast<unsigned char>(length));
        } else {
            f.push_back(static_cast<unsigned char>(0x80 | form));
            PutBe(f, length, form);
        }
        Put(f, Random(length, seed++));
    }
    return f;
}

// RealMedia: .RMF, PROP, an MDPR naming the stream, DATA of dataSize bytes, then the end record of
// RMVB files when asked.
inline Bytes Rm(const char* streamName, u32 dataSize, bool endRecord) {
    Bytes f;
    Put(f, ".RMF", 4);
    PutBe(f, 18, 4);
    PutBe(f, 0, 2);
    PutBe(f, 0, 4);
    PutBe(f, 4, 4);
    Put(f, "PROP", 4);
    PutBe(f, 50, 4);
    Put(f, Random(42, 94));
    const std::string name = streamName;
    Put(f, "MDPR", 4);
    PutBe(f, 40 + name.size(), 4);
    Put(f, Bytes(31, 0));
    f.push_back(static_cast<unsigned char>(name.size()));
    Put(f, name.data(), name.size());
    Put(f, "DATA", 4);
    PutBe(f, dataSize, 4);
    Put(f, Random(dataSize - 8, 95));
    if (endRecord) Put(f, rm_layout::kEndBytes, sizeof(rm_layout::kEndBytes));
    return f;
}

// Monkey's Audio from version 3980 on: descriptor, header, seek table and frames; an APE tag of
// tagBody bytes with its footer (and header) after when asked.
inline Bytes ApeNew(u16 version, u32 frameBytes, u16 channels = 2, u16 bits = 16, u32 tagBody = 0) {
    Bytes f;
    Put(f, "MAC ", 4);
    PutLe(f, version, 2);
    PutLe(f, 0, 2);
    PutLe(f, 52, 4);          // descriptor bytes
    PutLe(f, 24, 4);          // header bytes
    PutLe(f, 16, 4);          // seek table bytes
    PutLe(f, 0, 4);           // header data bytes
    PutLe(f, frameBytes, 4);  // frame data bytes
    PutLe(f, 0, 4);           // frame data bytes, high
    PutLe(f, 0, 4);           // terminating bytes
    Put(f, Random(16, 81));
    PutLe(f, 2000, 2);
    PutLe(f, 0, 2);
    PutLe(f, 73728, 4);
    PutLe(f, 1000, 4);
    PutLe(f, 4, 4);
    PutLe(f, bits, 2);
    PutLe(f, channels, 2);
    PutLe(f, 44100, 4);
    for (u32 i = 0; i < 4; ++i) PutLe(f, 92 + i * (frameBytes / 4), 4);
    Bytes frames = Random(frameBytes, 82);
    for (unsigned char& b : frames) b |= 1;  // no zeros at the end
    Put(f, frames);
    if (tagBody != 0) {
        Bytes footer;
        Put(footer, "APETAGEX", 8);
        PutLe(footer, 2000, 4);
        PutLe(footer, tagBody + 32, 4);
        PutLe(footer, 1, 4);
        PutLe(footer, 0x80000000u, 4);
        Put(footer, Bytes(8, 0));
        Bytes header = footer;
        header[23] |= 0x20;  // is-header
        Put(f, header);
        Bytes body = Random(tagBody, 83);
        for (unsigned char& b : body) b |= 1;
        Put(f, body);
        Put(f, footer);
    }
    return f;
}

}  // namespace streamtest
