// The properties of one NTFS file as the searches found it: UTF-8 name, size, attribute bits, times,
// deleted state, the sector of its file record and its extents in encoded form.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Common/IFileProperties.h"
#include "engine/NTFSLib/NTFSDataRunLists.h"

// An extension record of a multi-record file: its sector (-1 until located) and record number.
struct CAttributeListExtendFileRecordInfo {
    i64 sector = -1;
    i64 number = 0;
};
using CExtendFileRecordInfoList = std::vector<CAttributeListExtendFileRecordInfo>;

namespace ntfsattr {
inline constexpr u16 kReadOnly = 0x01;
inline constexpr u16 kHidden = 0x02;
inline constexpr u16 kSystem = 0x04;
inline constexpr u16 kDirectory = 0x10;
inline constexpr u16 kArchive = 0x20;
inline constexpr u16 kEncrypted = 0x40;
inline constexpr u16 kCompressed = 0x800;
}  // namespace ntfsattr

struct CNTFSFilePropertiesStruct {
    std::string name;
    u16 nameLength = 0;
    i64 fileSize = 0;
    u16 attribute = 0;
    u64 creationTime = 0;
    u64 modificationTime = 0;
    u64 lastAccessTime = 0;
    u16 state = 0;  // bit 0: deleted
    i64 recordSector = 0;
    std::optional<CCompressedDataRunList> runs;
    u64 baseRecordNumber = 0;
};

class CNTFSFileProperties : public IFileProperties {
public:
    static CNTFSFileProperties* Create();
    static void Destory(CNTFSFileProperties* properties) { delete properties; }
    // Copies the struct's fields; the name and the encoded runs are moved over.
    void Init(CNTFSFilePropertiesStruct& from);

    u16 GetFileNameLength() override { return m_nameLength; }
    // The length becomes strlen + 1 (the terminator counted); null does nothing.
    void SetFileName(const char* name) override;
    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return m_size; }
    u16 GetAttribute() override { return m_attribute; }
    const char* GetRawFileCreateTime() override { return ""; }
    _FILETIME GetCreationTime() override { return _FILETIME(m_creationTime); }
    _FILETIME GetModificationTime() override { return _FILETIME(m_modificationTime); }
    _FILETIME GetLastAccessTime() override { return _FILETIME(m_lastAccessTime); }
    u16 GetState() override { return m_state; }
    void SetState(u16 state) override { m_state = state; }
    // A new decoded list the caller releases; null without runs.
    IDataRunList* GetDataRunList() override;
    IFileProperties* Clone() override;

    i64 GetFileRecordStartSector() const { return m_recordSector; }
    void SetFileRecordStartSector(i64 sector) { m_recordSector = sector; }
    CExtendFileRecordInfoList* GetExtendFileRecordInfoList() { return m_extensions.get(); }
    void SetExtendFileRecordInfoList(std::unique_ptr<CExtendFileRecordInfoList> list) { m_extensions = std::move(list); }
    void SetFileSize(i64 size) { m_size = size; }
    void SetAttribute(u16 attribute) { m_attribute = attribute; }
    u64 GetFileRecordIndex() const { return m_recordIndex; }
    // Replaces the encoded runs by the list's encoding (a null list does nothing).
    void SetDataRunList(IDataRunList* list);
    const CCompressedDataRunList* GetCompressedDataRunList() const { return m_runs ? &*m_runs : nullptr; }
    u32 GetFilePropertyiesType() const { return 0; }

private:
    std::string m_name;
    u16 m_nameLength = 0;
    i64 m_size = 0;
    u16 m_attribute = 0;
    u64 m_creationTime = 0;
    u64 m_modificationTime = 0;
    u64 m_lastAccessTime = 0;
    u16 m_state = 0;
    i64 m_recordSector = 0;
    std::optional<CCompressedDataRunList> m_runs;
    std::unique_ptr<CExtendFileRecordInfoList> m_extensions;
    u64 m_recordIndex = 0;
};
