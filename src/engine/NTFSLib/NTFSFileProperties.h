// The properties of one NTFS file as the searches found it: UTF-8 name, size, attribute bits, times,
// deleted state, the sector of its file record and its extents in encoded form.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Common/IFileProperties.h"
#include "engine/NTFSLib/NTFSDataRunLists.h"
#include "engine/Utility/NodeMemory.h"

// A file's UTF-8 name in node memory: a deep scan keeps one per found record, so it is made and freed
// without the general allocator. Empty until assigned; c_str() is never null.
class CNTFSName {
public:
    CNTFSName() = default;
    CNTFSName(const CNTFSName& other) { Assign(other.data(), other.size()); }
    CNTFSName(CNTFSName&& other) noexcept : m_text(other.m_text), m_size(other.m_size) {
        other.m_text = nullptr;
        other.m_size = 0;
    }
    CNTFSName& operator=(const CNTFSName& other) {
        if (this != &other) Assign(other.data(), other.size());
        return *this;
    }
    CNTFSName& operator=(CNTFSName&& other) noexcept {
        if (this != &other) {
            Free();
            m_text = other.m_text;
            m_size = other.m_size;
            other.m_text = nullptr;
            other.m_size = 0;
        }
        return *this;
    }
    CNTFSName& operator=(std::string_view text) {
        Assign(text.data(), text.size());
        return *this;
    }
    ~CNTFSName() { Free(); }

    // Copies the bytes (they may lie in this name's own text) and ends them with a 0.
    void Assign(const char* text, size_t size);
    const char* c_str() const { return m_text ? m_text : ""; }
    const char* data() const { return c_str(); }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

private:
    void Free() noexcept {
        if (m_text) nodememory::Give(m_text, size_t(m_size) + 1);
        m_text = nullptr;
        m_size = 0;
    }

    char* m_text = nullptr;
    u32 m_size = 0;
};

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
    CNTFSName name;
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

// Made in node memory, as the nodes that own them are.
class CNTFSFileProperties : public IFileProperties, public CChunkAllocated {
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
    CNTFSName m_name;
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
