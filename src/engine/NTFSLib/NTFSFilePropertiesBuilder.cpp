#include "engine/NTFSLib/NTFSFilePropertiesBuilder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "engine/Common/SafeName.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"

using namespace ntfs;
using Attribute = CNTFSFileRecordAttribute;
using FileName = CNTFSFileRecordFileNameAttribute;
using StdInfo = CNTFSFileRecordStandardInformationAttribute;

namespace {

// The longest name a conversion may produce (255 UTF-16 units need at most 765 bytes).
constexpr size_t kMaxNameBytes = 1024;

}  // namespace

bool CNTFSFilePropertiesBuilder::BuildFilePropertiesFrom0x30(CNTFSMultiFileRecord& multi, CNTFSFilePropertiesStruct& out,
                                                              i64* parent) {
    const ByteReader a = multi.FindAttibute(attr::kFileName, 0, nullptr, nullptr);
    const ByteReader b = multi.FindAttibute(attr::kFileName, 1, nullptr, nullptr);
    const ByteReader chosen = (!b.empty() && FileName::GetFileNameNamespaceType(b) == filename::kWin32Namespace) ? b : a;
    if (chosen.empty() || FileName::GetFileNameLength(chosen) == 0) return false;
    const i64 parentA = a.empty() ? -1 : FileName::GetFileRecordNumberofParentDirectory(a);
    const i64 parentB = b.empty() ? -1 : FileName::GetFileRecordNumberofParentDirectory(b);
    i64 found = FileName::GetFileRecordNumberofParentDirectory(chosen);
    if (parentB >= 5) {
        found = parentB;
    } else if (parentA >= 5) {
        found = parentA;
    }
    if (found != -1 && parent) *parent = found;
    if (FileName::IsDirectory(chosen)) out.attribute |= ntfsattr::kDirectory;

    const ByteReader name = FileName::GetFileName(chosen);
    // An ASCII name (most are) goes straight into the properties' name, up to its first 0.
    std::array<char, 256> ascii;
    if (name.size() / 2 <= ascii.size() && Utf16LeAsciiToChars(name.data(), name.size(), ascii.data())) {
        out.name.Assign(ascii.data(), strnlen(ascii.data(), name.size() / 2));
    } else {
        std::string text;
        Utf16LeToUtf8(name.data(), name.size(), text);
        text.resize(std::strlen(text.c_str()));
        out.name = safename::CutAtUtf8Boundary(text, kMaxNameBytes);
    }
    out.nameLength = u16(out.name.size());
    out.creationTime = FileName::GetCreationFileTime(chosen);
    out.modificationTime = FileName::GetModificationFileTime(chosen);
    out.lastAccessTime = FileName::GetLastAccessFileTime(chosen);
    out.fileSize = FileName::GetFileRealSize(chosen);
    return true;
}

void CNTFSFilePropertiesBuilder::BuildFilePropertiesFrom0x10(CNTFSMultiFileRecord& multi, CNTFSFilePropertiesStruct& out) {
    const ByteReader si = multi.FindAttibute(attr::kStandardInformation, 0, nullptr, nullptr);
    if (si.empty() || !StdInfo::IsValid(si, Attribute::GetLength(si))) return;
    out.creationTime = StdInfo::GetCreationFileTime(si);
    out.modificationTime = StdInfo::GetModificationFileTime(si);
    out.lastAccessTime = StdInfo::GetLastAccessFileTime(si);
    const u32 dos = StdInfo::GetDosFilePermission(si);
    out.attribute |= u16(dos & (ntfsattr::kReadOnly | ntfsattr::kHidden | ntfsattr::kSystem | ntfsattr::kArchive));
}

void CNTFSFilePropertiesBuilder::BuildFilePropertiesFrom0x80(CNTFSMultiFileRecord& multi, CNTFSFilePropertiesStruct& out,
                                                              i64 bytesPerCluster) {
    out.runs.reset();
    CNTFSDataRunList work;
    for (u32 n = 0;; ++n) {
        u32 offset = 0;
        i64 sector = 0;
        const ByteReader a = multi.FindAttibute(attr::kData, n, &offset, &sector);
        if (a.empty()) break;
        if (Attribute::IsNamed(a)) continue;
        if (Attribute::IsCompressed(a)) out.attribute |= ntfsattr::kCompressed;
        if (Attribute::IsEncrypted(a)) out.attribute |= ntfsattr::kEncrypted;
        if (Attribute::IsResident(a)) {
            out.fileSize = Attribute::GetLengthOfAttribute(a);
            out.runs = CCompressedDataRunList::Resident(sector, offset + Attribute::GetOffsetToAttribute(a));
            if ((out.attribute & ntfsattr::kCompressed) && (out.attribute & ntfsattr::kEncrypted))
                out.attribute &= u16(~ntfsattr::kCompressed);
            return;
        }
        i64 startVCN = 0;
        i64 realSize = 0;
        if (!CNTFSFileRecordAnalyzer::AddDataRunListfromNonResidentAttributeBuffer(a, &realSize, startVCN, work)) continue;
        // The first extent's real size is the file's: the size in $FILE_NAME is a copy that Windows
        // leaves stale when a file shrinks (a larger one would add the slack's older bytes).
        if (startVCN == 0) out.fileSize = realSize;
    }
    work.Sort();
    i64 clusters = 0;
    IDataRunList* list = BuildNonResidentDataRunListfromNTFSDataRunList(work, &clusters);
    if (out.fileSize < 0) out.fileSize = 0;
    if (bytesPerCluster > 0 && bytesPerCluster % 512 == 0) {
        i64 allocated = 0;
        if (__builtin_mul_overflow(bytesPerCluster, clusters, &allocated)) allocated = INT64_MAX;
        if (out.fileSize == 0 && allocated != 0) {
            out.fileSize = allocated;
        } else {
            out.fileSize = std::min(out.fileSize, allocated);
        }
    }
    if (list) {
        std::unique_ptr<CCompressedDataRunList> runs(CCompressedDataRunList::Compress(list));
        if (runs) out.runs = std::move(*runs);
        list->Release();
    }
    if ((out.attribute & ntfsattr::kCompressed) && (out.attribute & ntfsattr::kEncrypted))
        out.attribute &= u16(~ntfsattr::kCompressed);
}

CNTFSFileProperties* CNTFSFilePropertiesBuilder::BuildFileProperties(i64 recordSector, CNTFSMultiFileRecord& multi,
                                                                     i64 bytesPerCluster, i64* parent) {
    if (!multi.IsValid()) return nullptr;
    CNTFSFilePropertiesStruct s;
    if (!BuildFilePropertiesFrom0x30(multi, s, parent)) return nullptr;
    BuildFilePropertiesFrom0x10(multi, s);
    s.recordSector = recordSector;
    if (!multi.IsinUse()) s.state |= 1;
    BuildFilePropertiesFrom0x80(multi, s, bytesPerCluster);
    s.baseRecordNumber = multi.GetMainFileRecordIndex();
    CNTFSFileProperties* properties = CNTFSFileProperties::Create();
    if (properties) properties->Init(s);
    return properties;
}

void CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(CNTFSFileProperties* p,
                                                                                          u32 spc) {
    if (!p || p->GetFileSize() >= 0) return;
    IDataRunList* list = p->GetDataRunList();
    if (!list) return;
    if (list->GetOffset() == 0) {
        u64 clusters = 0;
        for (DataRun* run = list->GetFirst(); run; run = list->GetNext()) clusters += run->length;
        p->SetFileSize(i64(clusters * spc * 512));
    }
    list->Release();
}
