#include "engine/RAWSearch/Analysers/FilePKGAnalyser.h"

#include <tinyxml.h>
#include <zlib.h>

#include <cassert>
#include <cerrno>
#include <optional>
#include <cstdlib>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace pkg_layout;

namespace {

bool IsXar(const ByteReader& h) { return h.Equals(0, "xar!"); }
bool IsPkg(const ByteReader& h) { return h.Equals(0, "\x7FPKG", 4); }

// A decimal text read from the table; absent when it is not a number that fits.
std::optional<u64> Number(const TiXmlElement* element) {
    if (element == nullptr || element->GetText() == nullptr) return std::nullopt;
    const char* text = element->GetText();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = strtoull(text, &end, 10);
    if (end == text || errno != 0) return std::nullopt;
    return value;
}

// The parser and the walk recurse per nested element: a table nested deeper than any real one is
// refused before it is parsed.
constexpr int kMaxDepth = 256;
bool NestingWithinBound(const std::string& xml) {
    int depth = 0;
    for (size_t i = 0; i + 1 < xml.size(); ++i) {
        if (xml[i] == '<') {
            const char next = xml[i + 1];
            if (next == '/') {
                --depth;
            } else if (next != '?' && next != '!') {
                if (++depth > kMaxDepth) return false;
            }
        } else if (xml[i] == '/' && xml[i + 1] == '>') {
            --depth;
        }
    }
    return true;
}

}  // namespace

int FilePKGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    const ByteReader h(sector, 512);
    if (!IsXar(h) && !IsPkg(h)) return 0;
    info.m_type = RAW_TYPE_PKG;
    return 1;
}

bool FilePKGAnalyser::PkgSignFileSize(const unsigned char* header, unsigned long long& size) {
    const ByteReader h(header, kPkgTotal + 8);
    const u16 version = h.Be16(kPkgVersion).value_or(0);
    if (!IsPkg(h) || (version != 1 && version != 2)) return false;
    const u64 total = h.Be64(kPkgTotal).value_or(0);
    if (total == 0 || total > kCap) return false;
    size = total;
    return true;
}

void FilePKGAnalyser::RecursionSearch(const TiXmlElement* file, u64& heapEnd) {
    // The table nests folders' files inside their folder; the depth is bounded by TinyXML's own parse.
    for (const TiXmlElement* data = file->FirstChildElement("data"); data != nullptr;
         data = data->NextSiblingElement("data")) {
        const auto offset = Number(data->FirstChildElement("offset"));
        const auto length = Number(data->FirstChildElement("length"));
        if (offset && length && *offset <= kCap && *length <= kCap) heapEnd = std::max(heapEnd, *offset + *length);
    }
    for (const TiXmlElement* child = file->FirstChildElement("file"); child != nullptr;
         child = child->NextSiblingElement("file")) {
        RecursionSearch(child, heapEnd);
    }
}

u64 FilePKGAnalyser::XarSize(u64 compressedLength, const std::string& toc) {
    if (!NestingWithinBound(toc)) return 0;
    TiXmlDocument document;
    document.Parse(toc.c_str());
    if (document.Error()) return 0;
    const TiXmlElement* root = document.RootElement();
    const TiXmlElement* tocElement = root != nullptr ? root->FirstChildElement() : nullptr;
    if (tocElement == nullptr) return 0;
    u64 heapEnd = 0;
    for (const TiXmlElement* file = tocElement->FirstChildElement("file"); file != nullptr;
         file = file->NextSiblingElement("file")) {
        RecursionSearch(file, heapEnd);
    }
    const u64 size = heapEnd + compressedLength + kTocStart;
    return size <= kCap ? size : compressedLength + kTocStart;
}

bool FilePKGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char header[kPkgTotal + 8];
    if (!window.CopyOut(0, header, sizeof(header))) return false;
    info.m_type = RAW_TYPE_PKG;
    unsigned long long size = 0;
    if (PkgSignFileSize(header, size)) {
        info.m_size = size;
        return true;
    }
    const ByteReader h(header, sizeof(header));
    if (!IsXar(h)) return false;
    const u64 compressed = *h.Be64(kCompressedToc);
    const u64 uncompressed = *h.Be64(kUncompressedToc);
    if (compressed == 0 || compressed > kTocCap || uncompressed > kTocCap || compressed > uncompressed) return false;
    std::vector<unsigned char> packed(compressed);
    if (!window.CopyOut(kTocStart, packed.data(), compressed)) return false;
    // The table is inflated into a buffer of its stated length and no more.
    std::string toc(uncompressed, '\0');
    uLongf produced = static_cast<uLongf>(uncompressed);
    if (uncompress(reinterpret_cast<Bytef*>(toc.data()), &produced, packed.data(), static_cast<uLong>(compressed)) != Z_OK) {
        return false;
    }
    toc.resize(produced);
    const u64 xar = XarSize(compressed, toc);
    if (xar == 0) return false;
    info.m_size = xar;
    return true;
}

IRawFileAnalyser* CreateFilePKGAnalyser() { return new FilePKGAnalyser(); }
