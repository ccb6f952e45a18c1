#include "engine/RAWSearch/Analysers/Mp3Analyzer.h"

#include <array>
#include <cstring>

#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace mp3_layout;

namespace BruteForce {

namespace {

// A decodable Layer II or III header at the start of bytes, with its frame size.
bool LayerTwoOrThree(const ByteReader& bytes, u32& frameSize) {
    if (!bytes.Has(0, kFrameHeader) || !Mp3SyncBytes(bytes.data())) return false;
    CMPAHeader h;
    if (!h.Init(bytes.data()) || (h.m_layer != 2 && h.m_layer != 3)) return false;
    frameSize = h.CalcFrameSize();
    return true;
}

std::string SpanName(long long start, long long current) { return SectorSpanName(start, current, "_"); }

}  // namespace

MP3Analyzer::MP3Analyzer() : IRawFileAnalyser(RAW_TYPE_MP3), m_file(std::make_unique<FileMP3Analyser>()) {}
MP3Analyzer::~MP3Analyzer() = default;

bool MP3Analyzer::DecodeStart(const unsigned char* header, CMPAHeader& out) {
    if (!Mp3SyncBytes(header) || !out.Init(header)) return false;
    const u32 size = out.CalcFrameSize();
    return size >= 1 && size <= kMaxFrameSize;
}

int MP3Analyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    CMPAHeader h;
    if (!Mp3Id3Start(sector) && !DecodeStart(sector, h)) return 0;
    info.m_type = RAW_TYPE_MP3;
    return 1;
}

int MP3Analyzer::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                 long long sectorNumber, long long, long long blockEndSector) {
    if (sector == nullptr || sectorSize <= 0) return 0;
    if (Mp3Id3Start(sector)) {
        info.m_type = RAW_TYPE_MP3;
        return 1;
    }
    CMPAHeader first;
    if (!DecodeStart(sector, first) || m_lastStartSector >= 0) return 0;
    // The next two headers, where the block holds them.
    const long long blockEnd = sectorSize * blockEndSector;
    const long long base = (sectorNumber + 1) * sectorSize;
    const u32 firstSize = first.CalcFrameSize();
    if (base + firstSize + kFrameHeader > blockEnd) {
        info.m_type = RAW_TYPE_MP3;
        return 1;
    }
    CMPAHeader second;
    if (!DecodeStart(sector + firstSize, second)) return 0;
    const u64 third = u64{firstSize} + second.CalcFrameSize();
    if (base + static_cast<long long>(third) + kFrameHeader <= blockEnd) {
        CMPAHeader h;
        if (!DecodeStart(sector + third, h)) return 0;
    }
    m_lastStartSector = sectorNumber;
    info.m_type = RAW_TYPE_MP3;
    return 1;
}

CRawFileInfo* MP3Analyzer::CreateRawFileInfo() { return new MP3RawFileInfo(this); }

void MP3Analyzer::ResetFollowState() {
    m_lastStartSector = -1;
    m_file->ResetFollowState();
}

MP3RawFileInfo::MP3RawFileInfo(MP3Analyzer* owner) : m_owner(owner) { m_type = RAW_TYPE_MP3; }

u64 MP3RawFileInfo::GetTagSize(const unsigned char* bytes) { return id3::TagSize(ByteReader(bytes, kId3Header)); }

i64 MP3RawFileInfo::FindJpegStartPos(const unsigned char* bytes, i64 length) {
    for (i64 i = 0; i + 3 <= length; ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xD8 && bytes[i + 2] == 0xFF) return i;
    }
    return 0;
}

int MP3RawFileInfo::Finish(int result) {
    if (m_owner != nullptr) m_owner->FileEnded(m_startSector);
    return result;
}

bool MP3RawFileInfo::HealthTest(const StreamWindow& w) const {
    const ByteReader head = w.From(0);
    if (head.Has(0, 3) && head.Equals(0, "ID3")) return true;
    u32 size = 0;
    if (!LayerTwoOrThree(head, size)) return false;
    if (size < 1 || size >= kMaxFrameSize || size > head.size()) return false;
    u32 next = 0;
    return LayerTwoOrThree(head.From(size), next);
}

void MP3RawFileInfo::GatherTagInfo(const StreamWindow& w) {
    const ByteReader head = w.From(0);
    const u64 tagSize = id3::TagSize(head);
    if (tagSize == 0) return;
    id3::TagInfo tag;
    id3::ReadTag(head, tag);
    m_charset = tag.charset;
    if (tag.pictureSize > 0) {
        m_pictureOffset = tag.pictureOffset;
        m_pictureSize = tag.pictureSize;
        m_minLength = static_cast<u32>(std::min<u64>(u64{m_minLength} + static_cast<u64>(m_pictureOffset) +
                                                         static_cast<u64>(m_pictureSize),
                                                     UINT32_MAX));
    }
    m_minLength = static_cast<u32>(std::min<u64>(u64{m_minLength} + tagSize, UINT32_MAX));
    if (tag.year.size() >= 8) SetRawFileTime(tag.year);
    const std::string artist = CleanRawFileName(tag.artist);
    const std::string title = CleanRawFileName(tag.title);
    if (artist.empty() && title.empty()) return;
    char name[600];
    snprintf(name, sizeof(name), "%s_%s %lld_", artist.c_str(), title.c_str(), static_cast<long long>(m_startSector));
    SetRawFileName(name);
    SetRawFileTagAndValue(RAW_TAG_MUSIC_ARTIST, artist.empty() ? title : artist);
}

void MP3RawFileInfo::FindTagInEndSector(const ByteReader& bytes, size_t after, long long sectorNumber) {
    // Pairs of spaces end the strings.
    std::string text(reinterpret_cast<const char*>(bytes.data()) + after, bytes.size() - after);
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == ' ' && text[i + 1] == ' ') {
            text[i] = 0;
            text[i + 1] = 0;
        }
    }
    const std::string first = id3::CheckUtf8(text.c_str());
    if (first.size() < 2) return;
    size_t at = first.size();
    while (at < text.size() && text[at] == 0) ++at;
    if (at >= text.size()) return;
    const std::string second = CleanRawFileName(id3::CheckUtf8(text.c_str() + at));
    if (second.size() < 4) return;
    if (!GetRawFileName().empty()) return;
    char name[600];
    snprintf(name, sizeof(name), "%s_%s %lld-%lld_", second.c_str(), first.c_str(),
             static_cast<long long>(m_startSector), sectorNumber);
    SetRawFileName(CleanRawFileName(name));
    SetRawFileTagAndValue(RAW_TAG_MUSIC_ARTIST, second);
}

bool MP3RawFileInfo::EndFound(const StreamWindow& w, long long sectorNumber, const SearchContext& ctx) {
    const i64 n = w.SectorSize();
    // The current sector, or the previous and the current one when the block goes on for a while.
    ByteReader bytes = w.Sector();
    if (ctx.blockEndSector - sectorNumber > 3) {
        if (const auto two = w.Bytes(w.SectorStart() - n, static_cast<u64>(2 * n))) bytes = *two;
    }
    i64 last = static_cast<i64>(bytes.size()) - 1;
    while (last >= 0 && bytes.data()[last] == 0) --last;
    if (last < 0) return false;
    for (i64 i = std::min<i64>(last, static_cast<i64>(bytes.size()) - 3); i >= 0; --i) {
        if (!bytes.Equals(static_cast<size_t>(i), "TAG")) continue;
        const i64 after = i + 3;
        if (after >= 1 && after <= 511) FindTagInEndSector(bytes, static_cast<size_t>(after), sectorNumber);
        return true;
    }
    std::array<u32, 256> counts{};
    const unsigned char* sector = w.Sector().data();
    for (i64 i = std::min<i64>(last, n - 1); i >= 0; --i) {
        const u8 c = sector[i];
        if (c != 0 && ++counts[c] > kByteRepeat) return true;
    }
    const bool equalStart = sector[0] != 0 && sector[0] == sector[1] && sector[0] == sector[2] &&
                            sector[0] == sector[3];
    if (equalStart && m_lastSector > ctx.bufferStartSector) {
        if (const auto before = w.Bytes(w.SectorStart() - kByteRepeat, kByteRepeat)) {
            for (size_t i = 0; i < before->size(); ++i) {
                const u8 c = before->data()[i];
                if (c != 0 && ++counts[c] > kByteRepeat) return true;
            }
        }
    }
    return false;
}

int MP3RawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (s == m_startSector) {
        CMPAHeader h;
        m_frameWalk = Mp3SyncBytes(sector) && h.Init(sector);
        GatherTagInfo(w);
        // A tagged file: its frames are walked from the tag's end, as an untagged one's from its start.
        if (const u64 tag = GetTagSize(sector); tag != 0) {
            m_frameWalk = true;
            m_tagged = true;
            m_walked = static_cast<i64>(tag);
        }
        if (GetRawFileName().empty() && !HealthTest(w)) return Finish(RAW_SIZE_FINISHED);
    }
    if (m_frameWalk) return CalcRawSizeEx(w, s);
    const i64 span = (s - m_startSector + 1) * static_cast<i64>(n);
    if (span > kMaxTaggedGuess) return Finish(RAW_SIZE_FINISHED);
    if (ctx.trailingZeroBytes < kZeroTail || (s - m_startSector) * static_cast<i64>(n) <= m_minLength ||
        !EndFound(w, s, ctx)) {
        m_lastSector = s;
        return RAW_SIZE_CONTINUE;
    }
    RAW_FILE_TAG kind = RAW_TAG_NONE;
    std::string label;
    GetRawFileTagAndValue(kind, label);
    if (!GetRawFileName().empty()) {
        if (kind != RAW_TAG_NONE && !label.empty() && GetRawFileName().find(label) == std::string::npos) {
            SetRawFileName(label + "_" + GetRawFileName());
        }
    } else {
        SetRawFileName(SpanName(m_startSector, s));
    }
    m_size = static_cast<u64>((s - m_startSector) * n + (n - static_cast<i64>(ctx.trailingZeroBytes)));
    return Finish(RAW_SIZE_FINISHED);
}

i64 MP3RawFileInfo::Tail(const StreamWindow& w, i64 at) {
    const ByteReader rest = w.From(at);
    if (rest.Has(0, 3) && rest.Equals(0, "TAG") && !rest.Has(0, kId3v1Size)) return kId3v1Size;
    if (rest.Has(0, kId3v1Size) && rest.Equals(0, "TAG")) {
        const id3::V1Info v1 = id3::ReadV1(*rest.Sub(0, kId3v1Size), m_charset);
        // The ID3v2 tag, when the file has one, has named it already.
        if (!v1.artist.empty() && GetRawFileName().empty()) {
            SetRawFileTagAndValue(RAW_TAG_MUSIC_ARTIST, v1.artist);
            SetRawFileName(v1.artist + "_" + CleanRawFileName(v1.title));
        }
        return kId3v1Size;
    }
    if (rest.Has(0, 9) && rest.Equals(0, "APETAGEX\xD0", 9)) return kApeTagSize;
    for (size_t k = 1; k <= 126 && rest.Has(k, 3); ++k) {
        if (rest.Equals(k, "TAG")) return static_cast<i64>(k) + kId3v1Size;
    }
    return 0;
}

int MP3RawFileInfo::CalcRawSizeEx(const StreamWindow& w, long long s) {
    m_walkLimit = w.SectorEnd();
    u32 frames = 0;
    bool ended = false;
    while (m_walked < m_walkLimit) {
        const auto header = w.Bytes(m_walked, kFrameHeader);
        if (!header) {
            if (m_walked >= w.Begin()) {
                m_straddle = true;  // read at the next call, when the block has moved on
                return RAW_SIZE_CONTINUE;
            }
            ended = true;  // no longer held
            break;
        }
        m_straddle = false;
        CMPAHeader h;
        if (!Mp3SyncBytes(header->data()) || !h.Init(header->data()) || h.CalcFrameSize() == 0) {
            // Zero bytes between a tag and the first frame (padding the tag does not count).
            if (m_tagged && m_frames == 0 && *header->U8(0) == 0 && m_skipped < kMaxTagGap) {
                ++m_walked;
                ++m_skipped;
                continue;
            }
            if (m_frames > 0) m_walked += Tail(w, m_walked);
            ended = true;
            break;
        }
        m_walked += h.CalcFrameSize();
        ++m_frames;
        if (++frames > kMaxFramesPerCall) {
            ended = true;
            break;
        }
    }
    if (!ended) return RAW_SIZE_CONTINUE;
    // An untagged walk must be long enough not to be a chance frame start; a tagged one needs a frame.
    if (m_tagged ? m_frames == 0 : m_walked < static_cast<i64>(FileMP3Analyser::kMinFrameFileSize)) m_walked = 0;
    if (m_walked > 0) {
        m_size = static_cast<u64>(m_walked);
        if (w.SectorEnd() > 10 * kLengthCap) m_size = kLengthCap;
        if (GetRawFileName().empty()) SetRawFileName(SpanName(m_startSector, s));
    }
    return Finish(RAW_SIZE_FINISHED);
}

void MP3RawFileInfo::WillBeRemove(unsigned char*, long long) {
    if (m_owner == nullptr) return;
    m_owner->FileEnded(m_startSector);
    m_analyser = m_owner->DeviceAnalyser();
}

}  // namespace BruteForce

IRawFileAnalyser* CreateMP3Analyzer() { return new BruteForce::MP3Analyzer(); }
