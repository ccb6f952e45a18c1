#include "engine/NTFSLib/NTFSFileProperties.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

void CNTFSName::Assign(const char* text, size_t size) {
    // Names are at most a few hundred bytes; anything past 4 GiB cannot be one.
    size = std::min<size_t>(size, 0xFFFFFFFEu);
    char* made = static_cast<char*>(nodememory::Take(size + 1));
    if (size) std::memcpy(made, text, size);
    made[size] = 0;
    Free();
    m_text = made;
    m_size = u32(size);
}

CNTFSFileProperties* CNTFSFileProperties::Create() { return new (std::nothrow) CNTFSFileProperties(); }

void CNTFSFileProperties::Init(CNTFSFilePropertiesStruct& from) {
    m_name = std::move(from.name);
    m_nameLength = from.nameLength;
    m_size = from.fileSize;
    m_attribute = from.attribute;
    m_creationTime = from.creationTime;
    m_modificationTime = from.modificationTime;
    m_lastAccessTime = from.lastAccessTime;
    m_state = from.state;
    m_recordSector = from.recordSector;
    m_runs = std::move(from.runs);
}

void CNTFSFileProperties::SetFileName(const char* name) {
    if (!name) return;
    m_name.Assign(name, std::strlen(name));
    m_nameLength = u16(std::min<size_t>(m_name.size() + 1, 0xFFFF));
}

IDataRunList* CNTFSFileProperties::GetDataRunList() { return m_runs ? m_runs->Decompress() : nullptr; }

void CNTFSFileProperties::SetDataRunList(IDataRunList* list) {
    if (!list) return;
    std::unique_ptr<CCompressedDataRunList> runs(CCompressedDataRunList::Compress(list));
    if (runs) {
        m_runs = std::move(*runs);
    } else {
        m_runs.reset();
    }
}

IFileProperties* CNTFSFileProperties::Clone() {
    auto* copy = new (std::nothrow) CNTFSFileProperties();
    if (!copy) return nullptr;
    copy->m_name = m_name;
    copy->m_nameLength = m_nameLength;
    copy->m_size = m_size;
    copy->m_attribute = m_attribute;
    copy->m_creationTime = m_creationTime;
    copy->m_modificationTime = m_modificationTime;
    copy->m_lastAccessTime = m_lastAccessTime;
    copy->m_state = m_state;
    copy->m_recordSector = m_recordSector;
    copy->m_runs = m_runs;
    if (m_extensions) copy->m_extensions = std::make_unique<CExtendFileRecordInfoList>(*m_extensions);
    copy->m_recordIndex = m_recordIndex;
    return copy;
}
