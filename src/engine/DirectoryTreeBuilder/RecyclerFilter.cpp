#include "engine/DirectoryTreeBuilder/RecyclerFilter.h"

#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Utility/FileNode.h"

namespace {

const char* NameOf(IFileNode* node) {
    return node ? node->GetFileName() : nullptr;
}

// A recycle-bin index file ($I...): a version, the deleted file's size and time, then its original path
// in UTF-16LE, of 260 units in version 1 and of a stated length in version 2.
namespace recycle_index_layout {
constexpr size_t kVersion = 0;  // u64 LE: 1 or 2
constexpr size_t kPathV1 = 24;  // version 1: the path, 260 units
constexpr size_t kPathV1Bytes = 520;
constexpr size_t kPathUnitsV2 = 24;  // version 2: u32 LE, the path's length in UTF-16 units
constexpr size_t kPathV2 = 28;       // version 2: the path
}  // namespace recycle_index_layout

}  // namespace

bool CRecyclerFilter::IsRecycleBinSigleNode(IFileNode* node) {
    const char* name = NameOf(node);
    if (!name || !(node->GetAttribute() & kDirectoryBit)) return false;
    for (const char* bin : {"Recycler", "Recycled", "$Recycle.Bin", "$RECYCLE.BI0"}) {
        if (strcasecmp(name, bin) == 0) return true;
    }
    return false;
}

bool CRecyclerFilter::IsRecycleBin(IFileNode* node) {
    // Links are acyclic (AddChild refuses loops), so the walk ends.
    for (IFileNode* n = node; n; n = n->GetParent()) {
        if (IsRecycleBinSigleNode(n)) return true;
    }
    return false;
}

bool CRecyclerFilter::IsRecoverNode(IFileNode* node) {
    const char* name = NameOf(node);
    return name && std::strlen(name) >= 2 && (name[0] == '#' || name[0] == '$') && name[1] == 'I';
}

bool CRecyclerFilter::IsRecoverNodeEx(IFileNode* node) {
    const char* name = NameOf(node);
    if (!name || std::strlen(name) < 2 || (name[0] != '#' && name[0] != '$') || name[1] != 'R') return false;
    return std::strstr("$RmMetadata$Reparse$Repair", name) == nullptr;
}

bool CRecyclerFilter::UTF162UTF8(const u8* in, size_t inBytes, std::string& out, size_t outLimit) {
    out.clear();
    if (!in || inBytes % 2 != 0) return false;
    if (inBytes == 0) return true;
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> src(in, in + inBytes);
    std::vector<char> dst(outLimit);
    char* inPtr = src.data();
    char* outPtr = dst.data();
    size_t inLeft = inBytes;
    size_t outLeft = outLimit;
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.assign(dst.data(), outLimit - outLeft);
    return true;
}

bool CRecyclerFilter::ParseIndexName(const u8* bytes, size_t length, std::string& name) {
    name.clear();
    using namespace recycle_index_layout;
    if (!bytes || length < kPathV2) return false;
    length = std::min<size_t>(length, kMaxIndexBytes);
    const ByteReader index(bytes, length);
    size_t begin = 0;
    size_t end = 0;
    switch (index.Le64(kVersion).value_or(0)) {
        case 1:
            begin = kPathV1;
            end = std::min(length, kPathV1 + kPathV1Bytes);
            break;
        case 2: {
            const u64 units = index.Le32(kPathUnitsV2).value_or(0);
            begin = kPathV2;
            end = begin + static_cast<size_t>(std::min<u64>(units * 2, length - begin));
            break;
        }
        default:
            return false;
    }
    const u8* path = bytes + begin;
    size_t units = (end - begin) / 2;  // an odd trailing byte is not part of any character
    const ByteReader pathUnits(path, units * 2);
    auto Unit = [&](size_t i) -> u16 { return pathUnits.Le16(2 * i).value_or(0); };
    for (size_t i = 0; i < units; ++i) {
        if (Unit(i) == 0) {
            units = i;
            break;
        }
    }
    // A drive prefix: a letter, ":" and a backslash.
    if (units < 4) return false;
    const u16 drive = Unit(0);
    const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (!letter || Unit(1) != ':' || Unit(2) != '\\') return false;
    size_t last = 2;
    for (size_t i = 3; i < units; ++i) {
        if (Unit(i) == '\\') last = i;
    }
    if (last + 1 >= units) return false;
    std::string converted;
    if (!UTF162UTF8(path + 2 * (last + 1), 2 * (units - last - 1), converted, kMaxNameBytes)) return false;
    // Names go into paths later: nothing that could climb out of or split a folder.
    if (converted.empty() || converted == "." || converted == ".." || converted.find('/') != std::string::npos ||
        converted.find('\0') != std::string::npos)
        return false;
    name = converted;
    return true;
}
