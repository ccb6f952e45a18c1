#include "engine/FATLib/FATFileProperties.h"

#include <new>

#include "engine/FATLib/FATDirEntry.h"
#include "engine/Utility/IDataRunList.h"

CFATFileProperties::CFATFileProperties(const CFATFileProperties& other) : IFileProperties() {
    *this = other;
    m_metadataSector = other.m_metadataSector;
    if (other.m_dataRuns != nullptr) m_dataRuns = other.m_dataRuns->Clone();
}

CFATFileProperties::~CFATFileProperties() {
    if (m_dataRuns != nullptr) m_dataRuns->Release();
}

CFATFileProperties* CFATFileProperties::Create() {
    return new (std::nothrow) CFATFileProperties();
}

void CFATFileProperties::Destory(CFATFileProperties* properties) {
    delete properties;
}

IFileProperties* CFATFileProperties::Clone() {
    return new (std::nothrow) CFATFileProperties(*this);
}

void CFATFileProperties::SetDataRunList(IDataRunList* list) {
    if (list == m_dataRuns) return;
    if (m_dataRuns != nullptr) m_dataRuns->Release();
    m_dataRuns = list;
}

CFATFileProperties& CFATFileProperties::operator=(const CFATFileProperties& other) {
    if (this == &other) return *this;
    m_name = other.m_name;
    m_size = other.m_size;
    m_attribute = other.m_attribute;
    m_creationTime = other.m_creationTime;
    m_modificationTime = other.m_modificationTime;
    m_lastAccessTime = other.m_lastAccessTime;
    m_state = other.m_state;
    m_firstCluster = other.m_firstCluster;
    m_parentFirstCluster = other.m_parentFirstCluster;
    return *this;
}

CFATFileProperties* CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntry(const std::string& name,
                                                                                const u8* entry) {
    CFATFileProperties* p = CFATFileProperties::Create();
    if (p == nullptr) return nullptr;
    CTempFATDirEntry e(entry);
    p->m_name = name;
    p->m_size = e.GetSize();
    p->m_attribute = e.GetAttribute();
    DosDateTimeToFileTime(e.GetCreationDate(), e.GetCreationTime(), &p->m_creationTime);
    DosDateTimeToFileTime(e.GetModificationDate(), e.GetModificationTime(), &p->m_modificationTime);
    DosDateTimeToFileTime(e.GetAccessDate(), 0, &p->m_lastAccessTime);
    p->m_state = e.IsErased() ? 1 : 0;
    p->m_firstCluster = e.GetFirstClusterNO();
    return p;
}

CFATFileProperties* CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(const u8* entries, u32 length) {
    if (entries == nullptr) return nullptr;
    // The name is gathered as UTF-16 units so that a surrogate pair split over two pieces survives.
    std::u16string units;
    size_t utf8Length = 0;
    for (u32 off = 0; off + fat_dir_entry_layout::kSize <= length; off += fat_dir_entry_layout::kSize) {
        CTempFATDirEntry e(entries + off);
        if (e.IsLongFileNameEntry()) {
            char16_t piece[13];
            size_t count = e.GetLongFileNameUnits(piece);
            if (count == 0) piece[count++] = u'_';
            // A short piece starts a new name (it is the last piece of one): drop what came before.
            if (count < 13 && !units.empty()) {
                units.clear();
                utf8Length = 0;
            }
            utf8Length += fat::Utf8Length(piece, count);
            if (utf8Length >= 2047) return nullptr;
            units.insert(0, piece, count);
            continue;
        }
        std::string name;
        if (!units.empty()) name = fat::Utf16ToUtf8(units);
        if (!CTempFATDirEntry::IsValidLongFileName(name)) name = e.GetShortName(false);
        return BuildFATFilePropertyFromDirEntry(name, entries + off);
    }
    return nullptr;
}
