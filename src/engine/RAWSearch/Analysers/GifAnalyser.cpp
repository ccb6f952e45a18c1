#include "engine/RAWSearch/Analysers/GifAnalyser.h"

#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace gif_layout;

namespace {

// The bytes of a colour table announced by the flags byte.
i64 ColourTable(u8 flags) { return (flags & kColourTableFlag) != 0 ? i64{3} << ((flags & kColourTableSize) + 1) : 0; }

}  // namespace

namespace BruteForce {

CGifAnalyser::CGifAnalyser() : IRawFileAnalyser(RAW_TYPE_GIF) {}

int CGifAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const ByteReader header(sector, kHeaderSize);
    if (!header.Equals(kVersion, "7a", 2) && !header.Equals(kVersion, "9a", 2)) return 0;
    info.m_type = RAW_TYPE_GIF;
    return 1;
}

CRawFileInfo* CGifAnalyser::CreateRawFileInfo() { return new CGifFileInfo(); }

CGifFileInfo::CGifFileInfo() { m_type = RAW_TYPE_GIF; }

int CGifFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (m_first) {
        m_first = false;
        m_position = static_cast<i64>(kHeaderSize) + ColourTable(w.Sector().U8(kScreenFlags).value_or(0));
    }
    // Until the trailer is found the file grows a whole sector at each call.
    m_size = static_cast<u64>(w.SectorEnd());
    // Block introducers count only between blocks: inside a block every byte is a sub-block length, so a
    // sub-block of 33, 44 or 59 bytes is never taken for an extension, an image or the trailer.
    while (m_position < w.SectorEnd()) {
        const auto at = [&](size_t length) { return w.Bytes(m_position, length); };
        const auto first = at(1);
        if (!first) break;  // read at the next call, when the search holds it
        const u8 byte = *first->U8(0);
        if (m_inSubBlocks || (byte != kExtension && byte != kImage && byte != kTrailer)) {
            m_position += i64{byte} + 1;
            if (byte == 0) m_inSubBlocks = false;
            continue;
        }
        if (byte == kTrailer) {
            m_size = static_cast<u64>(m_position) + 1;  // the trailer is the file's last byte
            return RAW_SIZE_FINISHED;
        }
        if (byte == kExtension) {
            const auto header = at(kExtensionHeader);
            if (!header) break;
            m_position += static_cast<i64>(kExtensionHeader) + *header->U8(kExtensionBlockLength);
        } else {
            const auto header = at(kImageFlags + 1);
            if (!header) break;
            m_position += static_cast<i64>(kImageHeader) + ColourTable(*header->U8(kImageFlags));
        }
        m_inSubBlocks = true;
    }
    if (m_size >= kMaxSize) {
        m_size = kMaxSize;
        return RAW_SIZE_FINISHED;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateGifAnalyser() { return new BruteForce::CGifAnalyser(); }
