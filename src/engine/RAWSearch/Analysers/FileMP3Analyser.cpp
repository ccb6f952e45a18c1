#include <cassert>
#include <cstring>
#include <vector>

#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Analysers/Mp3Analyzer.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace mp3_layout;

namespace {

constexpr u64 kMaxTagRead = 262144;  // bytes of an ID3v2 tag read for its texts
constexpr u32 kXingHead = kXingBytes + 4;
constexpr u32 kApeMarker = 9;        // "APETAGEX" and 0xD0
constexpr u32 kApeEndAfterZero = 129;

// Up to want bytes at offset, as far as the device can be read.
std::vector<unsigned char> ReadSome(RawFileBuffer& buffer, u64 offset, u64 want) {
    std::vector<unsigned char> out;
    const u64 step = buffer.GetSectorSize();
    while (out.size() < want) {
        const u64 length = std::min<u64>(step, want - out.size());
        const size_t at = out.size();
        out.resize(at + length);
        if (!buffer.CopyOut(offset + at, out.data() + at, length)) {
            out.resize(at);
            break;
        }
    }
    return out;
}

bool ApeMarker(const ByteReader& bytes) { return bytes.Has(0, kApeMarker) && bytes.Equals(0, "APETAGEX\xD0", 9); }

// The frame size of a header that passes the byte tests and decodes, 0 otherwise.
u32 HeaderFrameSize(const unsigned char* p) {
    CMPAHeader h;
    if (!Mp3SyncBytes(p) || !h.Init(p)) return 0;
    return h.CalcFrameSize();
}

}  // namespace

FileMP3Analyser::FileMP3Analyser() : IRawFileAnalyser(RAW_TYPE_MP3) {}

void FileMP3Analyser::InitMemValue() {
    m_title.clear();
    m_year.clear();
    m_artist.clear();
    m_tagKind = RAW_TAG_NONE;
}

void FileMP3Analyser::ResetFollowState() {
    m_lastStart = -1;
    m_lastEnd = -1;
}

void FileMP3Analyser::GetRawFileTagAndValue(RAW_FILE_TAG& kind, std::string& value) const {
    kind = m_tagKind;
    value = m_artist;
}

int FileMP3Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    if (!Mp3Id3Start(sector) && HeaderFrameSize(sector) == 0) return 0;
    info.m_type = RAW_TYPE_MP3;
    return 1;
}

void FileMP3Analyser::Publish(CRawFileInfo& info) const {
    if (!m_year.empty()) info.SetRawFileTime(m_year);
    if (!m_artist.empty()) info.SetRawFileTagAndValue(RAW_TAG_MUSIC_ARTIST, m_artist);
    if (!m_artist.empty() || !m_title.empty()) info.SetRawFileName(CleanRawFileName(m_artist + "_" + m_title));
}

void FileMP3Analyser::NameFromV1(CRawFileInfo& info, RawFileBuffer& buffer, u64 offset, std::string& charset) {
    const std::vector<unsigned char> tag = ReadSome(buffer, offset, kId3v1Size);
    const id3::V1Info v1 = id3::ReadV1(ByteReader(tag.data(), tag.size()), charset);
    if (m_title.empty()) m_title = CleanRawFileName(v1.title);
    if (m_artist.empty()) m_artist = v1.artist;
    if (m_year.empty()) m_year = v1.year;
    if (!m_artist.empty()) m_tagKind = RAW_TAG_MUSIC_ARTIST;
}

bool FileMP3Analyser::GetRawFileSizeXING(CRawFileInfo& info, RawFileBuffer& buffer) {
    unsigned char head[kXingHead];
    if (!buffer.CopyOut(0, head, sizeof(head))) return false;
    const u32 length = ByteReader(head, sizeof(head)).Be32(kXingBytes).value_or(0);
    if (length == 0) return false;
    u64 size = length;
    unsigned char tag[3];
    if (buffer.CopyOut(length, tag, sizeof(tag)) && memcmp(tag, "TAG", 3) == 0) {
        std::string charset;
        NameFromV1(info, buffer, length, charset);
        size += kId3v1Size;
    }
    info.m_size = size;
    Publish(info);
    return true;
}

bool FileMP3Analyser::GetRawFileSizeFromFrame(CRawFileInfo& info, RawFileBuffer& buffer) {
    unsigned char header[kFrameHeader];
    CMPAHeader first;
    if (!buffer.CopyOut(0, header, sizeof(header)) || !BruteForce::MP3Analyzer::DecodeStart(header, first)) {
        return false;
    }
    const u32 firstSize = first.CalcFrameSize();
    if (!buffer.CopyOut(firstSize, header, sizeof(header)) || HeaderFrameSize(header) == 0) return false;
    const i64 start = info.m_startSector;
    if (m_lastStart >= 0 && start > m_lastStart && start < m_lastEnd) return false;
    u64 offset = 0;
    std::string charset;
    while (offset <= kMaxFrameWalk) {
        if (!buffer.CopyOut(offset, header, sizeof(header))) break;
        const u32 size = HeaderFrameSize(header);
        if (size != 0) {
            offset += size;
            continue;
        }
        const std::vector<unsigned char> tail = ReadSome(buffer, offset, kId3v1Size + kId3v1Size);
        const ByteReader rest(tail.data(), tail.size());
        if (rest.Has(0, 3) && rest.Equals(0, "TAG")) {
            NameFromV1(info, buffer, offset, charset);
            offset += kId3v1Size;
        } else if (ApeMarker(rest)) {
            offset += kApeTagSize;
        } else {
            for (size_t k = 1; k < kId3v1Size && rest.Has(k, 3); ++k) {
                if (rest.Equals(k, "TAG")) {
                    offset += k + kId3v1Size;
                    break;
                }
            }
        }
        break;
    }
    if (offset < kMinFrameFileSize) return false;
    const i64 sectorSize = buffer.GetSectorSize();
    const i64 end = start + static_cast<i64>((offset + sectorSize - 1) / sectorSize);
    if (m_lastStart >= 0 && end > m_lastStart && end < m_lastEnd) return false;
    m_lastStart = start;
    m_lastEnd = end;
    info.m_size = offset;
    Publish(info);
    return true;
}

u64 FileMP3Analyser::WalkTagged(RawFileBuffer& buffer, u64 tagSize, u32 sectorSize, std::string& charset,
                                bool& endsOnV1) {
    endsOnV1 = false;
    u64 pos = tagSize;
    u32 run = 0;
    u64 lastFrame = 0;
    u32 frames = 0;
    while (pos <= kMaxTaggedWalk) {
        unsigned char head[kId3Header];
        if (!buffer.CopyOut(pos, head, sizeof(head))) break;
        const ByteReader marker(head, sizeof(head));
        if (marker.Equals(0, "TAG")) {
            // An ID3v1 tag that ends the file: on a sector boundary, or followed by zeros only.
            const u64 end = pos + kId3v1Size;
            const u64 sectorEnd = (end + sectorSize - 1) / sectorSize * sectorSize;
            const std::vector<unsigned char> after = ReadSome(buffer, end, sectorEnd - end);
            bool zeros = after.size() == sectorEnd - end;
            for (const unsigned char c : after) zeros = zeros && c == 0;
            if (zeros) {
                endsOnV1 = true;
                return end;
            }
        }
        if (pos % sectorSize == 0 && id3::TagSize(marker) != 0) return pos;  // the next file
        if (ApeMarker(marker)) {
            const u64 first = pos / sectorSize * sectorSize;
            for (u64 at = first; at < first + kApeSearch; at += sectorSize) {
                const std::vector<unsigned char> sector = ReadSome(buffer, at, sectorSize);
                if (sector.size() != sectorSize) break;
                const ByteReader s(sector.data(), sector.size());
                const u32 lastWord = *s.Be32(sectorSize - 4);
                if (lastWord != 0 || (*s.Be32(sectorSize - 8) == 0 && *s.Be32(sectorSize - 12) == 0)) continue;
                for (size_t i = 0; i + 4 <= sector.size(); ++i) {
                    if (s.Equals(i, "\0TAG", 4)) return at + i + kApeEndAfterZero;
                }
            }
            return pos;
        }
        u32 size = HeaderFrameSize(head);
        u64 skipped = 0;
        if (size == 0) {
            const std::vector<unsigned char> area = ReadSome(buffer, pos, kResync + kFrameHeader);
            for (size_t k = 1; k < kResync && k + kFrameHeader <= area.size(); ++k) {
                size = HeaderFrameSize(area.data() + k);
                if (size != 0) {
                    skipped = k;
                    break;
                }
            }
            if (size == 0) {
                if (run == 2) pos -= lastFrame;  // two frames and then nothing: the second was chance
                break;
            }
            run = 0;
        }
        lastFrame = skipped + size;
        pos += lastFrame;
        ++run;
        ++frames;
    }
    return frames == 0 ? 0 : pos;
}

bool FileMP3Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    InitMemValue();
    info.m_size = 0;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_startSector));
    const std::vector<unsigned char> head = ReadSome(buffer, 0, kXingHead);
    if (head.size() < kFrameHeader) return false;
    const ByteReader r(head.data(), head.size());
    if (r.Equals(0, "ID3")) {
        const u64 tagSize = id3::TagSize(r);
        if (tagSize == 0) return false;
        const std::vector<unsigned char> tagBytes = ReadSome(buffer, 0, std::min(tagSize, kMaxTagRead));
        id3::TagInfo tag;
        id3::ReadTag(ByteReader(tagBytes.data(), tagBytes.size()), tag);
        m_title = CleanRawFileName(tag.title);
        m_artist = CleanRawFileName(tag.artist);
        m_year = tag.year;
        bool endsOnV1 = false;
        const u64 walked = WalkTagged(buffer, tagSize, buffer.GetSectorSize(), tag.charset, endsOnV1);
        if (walked <= tagSize) return false;
        if (endsOnV1) NameFromV1(info, buffer, walked - kId3v1Size, tag.charset);
        if (!m_artist.empty()) m_tagKind = RAW_TAG_MUSIC_ARTIST;
        info.m_size = walked;
        Publish(info);
        return true;
    }
    const bool xing = r.Has(0, kXingHead) && head[0] == 0xFF && head[1] == 0xFB && (head[2] == 0xE0 || head[2] == 0xB0) &&
                      (r.Equals(kXingTag, "Xing") || r.Equals(kXingTag, "Info"));
    if (xing) return GetRawFileSizeXING(info, buffer);
    return GetRawFileSizeFromFrame(info, buffer);
}
