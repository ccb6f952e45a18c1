#include "engine/RAWSearch/Analysers/MPAHeader.h"

#include "engine/Common/ByteReader.h"

namespace {

// kbit/s by [low sampling frequency][layer - 1][index]; index 15 is refused before the table is used.
constexpr u16 kBitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
// Hz by [version field][index]; version 1 is reserved.
constexpr u32 kSamplingRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
// By [low sampling frequency][layer - 1].
constexpr u32 kSamplesPerFrame[2][3] = {{384, 1152, 1152}, {384, 1152, 576}};
constexpr u32 kCoefficients[2][3] = {{12, 144, 144}, {12, 144, 72}};
constexpr u32 kSlotSizes[3] = {4, 1, 1};
// MPEG 1 Layer II: the channel modes each bit-rate index allows (see CMPAHeader::m_allowedModes).
constexpr u16 kLayer2Modes[15] = {0, 1, 1, 1, 2, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3};
constexpr u16 kMonoOnly = 1;
constexpr u16 kNotMono = 3;

}  // namespace

bool CMPAHeader::Init(const unsigned char* header) {
    *this = CMPAHeader();
    const ByteReader r(header, mp3_layout::kFrameHeader);
    const u32 word = r.Be32(0).value_or(0);
    m_version = (word >> 19) & 3;
    const u32 layerField = (word >> 17) & 3;
    const u32 bitRateIndex = (word >> 12) & 0xF;
    const u32 rateIndex = (word >> 10) & 3;
    m_emphasis = word & 3;
    if (m_version == 1 || layerField == 0 || bitRateIndex == 15 || rateIndex == 3 || m_emphasis == 2) return false;
    m_layer = 4 - layerField;
    m_lowSamplingFrequency = m_version == kMpeg1 ? 0 : 1;
    m_crc = ((word >> 16) & 1) == 0 ? 1 : 0;
    m_bitRate = u32{kBitRates[m_lowSamplingFrequency][m_layer - 1][bitRateIndex]} * 1000;
    if (m_bitRate == 0) return false;
    m_samplingRate = kSamplingRates[m_version][rateIndex];
    m_samplesPerFrame = kSamplesPerFrame[m_lowSamplingFrequency][m_layer - 1];
    m_padding = (word >> 9) & 1;
    m_private = static_cast<u8>((word >> 8) & 1);
    m_channelMode = (word >> 6) & 3;
    m_modeExtension = static_cast<u8>((word >> 4) & 3);
    m_copyright = static_cast<u8>((word >> 3) & 1);
    m_original = static_cast<u8>((word >> 2) & 1);
    if (m_channelMode == 1) m_intensityStereoBound = static_cast<u16>(4 + 4 * m_modeExtension);
    if (m_layer == 2 && m_version == kMpeg1) {
        m_allowedModes = kLayer2Modes[bitRateIndex];
        if (m_allowedModes == kMonoOnly && m_channelMode != kMono) return false;
        if (m_allowedModes == kNotMono && m_channelMode == kMono) return false;
    }
    return true;
}

u32 CMPAHeader::CalcFrameSize() const {
    if (m_layer < 1 || m_layer > 3 || m_samplingRate == 0) return 0;
    const u64 coefficient = kCoefficients[m_lowSamplingFrequency][m_layer - 1];
    return static_cast<u32>((u64{m_bitRate} * coefficient / m_samplingRate + m_padding) * kSlotSizes[m_layer - 1]);
}

bool CMPAHeader::operator==(const CMPAHeader& other) const {
    return m_version == other.m_version && m_layer == other.m_layer && m_samplingRate == other.m_samplingRate &&
           m_emphasis == other.m_emphasis && IsMono() == other.IsMono();
}

bool classMp3Search::GetSynchsafeInteger(const unsigned char* bytes, u32& out) {
    const ByteReader r(bytes, 4);
    u32 value = 0;
    for (size_t i = 0; i < 4; ++i) {
        const u8 b = r.U8(i).value_or(0x80);
        if ((b & 0x80) != 0) return false;
        value = (value << 7) | b;
    }
    out = value;
    return true;
}

bool bMp3NotID3Header(const unsigned char* header) {
    if (!Mp3SyncBytes(header)) return false;
    CMPAHeader h;
    return h.Init(header) && h.m_version == CMPAHeader::kMpeg1 && h.m_layer == 3;
}
