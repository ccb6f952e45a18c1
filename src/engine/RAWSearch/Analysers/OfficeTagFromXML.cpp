#include "engine/RAWSearch/Analysers/OfficeTagFromXML.h"

#include <tinyxml.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace zip_layout;

namespace Brance {

namespace {

constexpr u16 kMaxMetadataMethod = 10;
constexpr size_t kMaxText = 1024;
// zlib's raw inflate asks for its state (about 7 KiB) and a 32 KiB window; nothing more is given.
constexpr size_t kInflateBudget = 64 * 1024;

std::atomic<size_t> g_peak{0};

struct Budget {
    size_t used = 0;
};

voidpf BoundedAlloc(voidpf opaque, uInt items, uInt size) {
    auto* budget = static_cast<Budget*>(opaque);
    const size_t bytes = static_cast<size_t>(items) * size;
    if (size != 0 && bytes / size != items) return Z_NULL;
    if (bytes > kInflateBudget - budget->used) return Z_NULL;
    auto* block = static_cast<size_t*>(calloc(1, bytes + sizeof(size_t)));
    if (block == nullptr) return Z_NULL;
    *block = bytes;
    budget->used += bytes;
    size_t peak = g_peak.load();
    while (budget->used > peak && !g_peak.compare_exchange_weak(peak, budget->used)) {
    }
    return block + 1;
}

void BoundedFree(voidpf opaque, voidpf address) {
    if (address == Z_NULL) return;
    auto* block = static_cast<size_t*>(address) - 1;
    static_cast<Budget*>(opaque)->used -= *block;
    free(block);
}

// The text of element `name` under the root, when shorter than 1024 bytes.
std::string ChildText(TiXmlHandle root, const char* name) {
    const TiXmlElement* element = root.FirstChild(name).ToElement();
    const char* text = element != nullptr ? element->GetText() : nullptr;
    if (text == nullptr) return {};
    const size_t length = strnlen(text, kMaxText);
    return length < kMaxText ? std::string(text, length) : std::string();
}

}  // namespace

size_t OfficeTagFromXML::PeakAllocation() { return g_peak.load(); }

std::string OfficeTagFromXML::FilterFileTime(std::string time) {
    for (size_t i = 1; i < time.size(); ++i) {
        const char c = time[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            time[i] = ' ';
        } else if (c == ':') {
            time[i] = '-';
        }
    }
    return time;
}

OfficeTagFromXML::Result OfficeTagFromXML::GetOfficeTagFromXML(const StreamWindow& window, i64 headerOffset,
                                                              const tagZipLocalFileHeader& h, FileProperty& out) {
    const ByteReader header = h.Reader();
    const u32 packed = *header.Le32(kLocalCompressedSize);
    const u32 unpacked = *header.Le32(kLocalUncompressedSize);
    if (packed == 0 || packed >= kMaxEntrySize || unpacked == 0 || unpacked >= kMaxEntrySize ||
        *header.Le16(kLocalMethod) > kMaxMetadataMethod) {
        return Result::Never;
    }
    const i64 data = headerOffset + static_cast<i64>(kLocalHeaderSize) + *header.Le16(kLocalNameLength) +
                     *header.Le16(kLocalExtraLength);
    if (const std::optional<ByteReader> bytes = window.Bytes(data, packed)) {
        try {
            if (bDepress(bytes->data(), h, packed) && AnalyzeTag(out)) return Result::Read;
        } catch (...) {
            // Left out, as an unreadable entry is.
        }
        return Result::Never;
    }
    // Not all of it held: it may still come (its end lies past the bytes held), or it has gone.
    return data >= window.Begin() && data + packed > window.End() ? Result::NotInHand : Result::Never;
}

bool OfficeTagFromXML::bDepress(const unsigned char* data, const tagZipLocalFileHeader& h, u64 length) {
    m_output.clear();
    const u32 unpacked = *h.Reader().Le32(kLocalUncompressedSize);
    if (data == nullptr || unpacked > kMaxEntrySize) return false;
    // One byte more than the stated size, never written by zlib: the text's terminator.
    m_output.assign(unpacked + 1, 0);
    Budget budget;
    z_stream stream{};
    stream.zalloc = BoundedAlloc;
    stream.zfree = BoundedFree;
    stream.opaque = &budget;
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(length);
    stream.next_out = m_output.data();
    stream.avail_out = unpacked;
    const int result = inflate(&stream, Z_NO_FLUSH);
    inflateEnd(&stream);
    return result >= 0;
}

bool OfficeTagFromXML::AnalyzeTag(FileProperty& out) {
    if (m_output.size() < 2 || m_output[0] != '<' || m_output[1] != '?') return false;
    TiXmlDocument document;
    document.Parse(reinterpret_cast<const char*>(m_output.data()), nullptr, TIXML_ENCODING_UNKNOWN);
    if (document.Error() || document.FirstChildElement() == nullptr) return false;
    const TiXmlHandle root = TiXmlHandle(&document).FirstChild("cp:coreProperties");
    auto take = [&](const char* name, std::string& field, bool time) {
        std::string text = ChildText(root, name);
        if (text.empty()) return;
        field = time ? FilterFileTime(text) : text;
    };
    take("dc:title", out.title, false);
    take("dc:creator", out.author, false);
    take("cp:lastModifiedBy", out.lastAuthor, false);
    take("dcterms:created", out.created, true);
    take("dcterms:modified", out.modified, true);
    return true;
}

}  // namespace Brance
