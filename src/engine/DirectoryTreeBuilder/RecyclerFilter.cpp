#include "engine/DirectoryTreeBuilder/RecyclerFilter.h"

#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/FATLib/FATFileNode.h"
#include "engine/NTFSLib/NTFSFileNode.h"

namespace {

const char* NameOf(IFileNode* node) {
    return node ? node->GetFileName() : nullptr;
}

u64 ReadLe64(const u8* p) {
    u64 v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

u32 ReadLe32(const u8* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24);
}

u16 Unit(const u8* p, size_t i) {
    return static_cast<u16>(p[2 * i] | (p[2 * i + 1] << 8));
}

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

IFileProperties* CRecyclerFilter::GetFileProperties(IFileNode* node, _tagSearcherType type) {
    if (type == SEARCHER_FAT) {
        auto* fat = dynamic_cast<CFATFileNode*>(node);
        return fat ? fat->GetFileProperties() : nullptr;
    }
    if (type == SEARCHER_NTFS) {
        auto* ntfs = dynamic_cast<CNTFSFileNode*>(node);
        return ntfs ? ntfs->GetFileProperties() : nullptr;
    }
    return nullptr;
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
    constexpr size_t kPathV1 = 24, kPathV1Bytes = 520, kPathV2 = 28;
    if (!bytes || length < kPathV2) return false;
    length = std::min<size_t>(length, kMaxIndexBytes);
    size_t begin = 0;
    size_t end = 0;
    switch (ReadLe64(bytes)) {
        case 1:
            begin = kPathV1;
            end = std::min(length, kPathV1 + kPathV1Bytes);
            break;
        case 2: {
            const u64 units = ReadLe32(bytes + 24);
            begin = kPathV2;
            end = begin + static_cast<size_t>(std::min<u64>(units * 2, length - begin));
            break;
        }
        default:
            return false;
    }
    const u8* path = bytes + begin;
    size_t units = (end - begin) / 2;  // an odd trailing byte is not part of any character
    for (size_t i = 0; i < units; ++i) {
        if (Unit(path, i) == 0) {
            units = i;
            break;
        }
    }
    // A drive prefix: a letter, ":" and a backslash.
    if (units < 4) return false;
    const u16 drive = Unit(path, 0);
    const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (!letter || Unit(path, 1) != ':' || Unit(path, 2) != '\\') return false;
    size_t last = 2;
    for (size_t i = 3; i < units; ++i) {
        if (Unit(path, i) == '\\') last = i;
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
