// The properties of one FAT directory entry. Only what the file model and the tree builder use is here
// so far; the FAT search completes the class (builders, Create/Destory).
#pragma once

#include <string>

#include "engine/Common/IFileProperties.h"

class CFATFileProperties : public IFileProperties {
public:
    u16 GetFileNameLength() override { return static_cast<u16>(m_name.size()); }
    void SetFileName(const char* name) override { m_name = name ? name : ""; }
    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return m_size; }
    u16 GetAttribute() override { return m_attribute; }
    const char* GetRawFileCreateTime() override { return ""; }
    _FILETIME GetCreationTime() override { return m_creationTime; }
    _FILETIME GetModificationTime() override { return m_modificationTime; }
    _FILETIME GetLastAccessTime() override { return m_lastAccessTime; }
    u16 GetState() override { return m_state; }
    void SetState(u16 state) override { m_state = state; }
    IDataRunList* GetDataRunList() override { return nullptr; }
    IFileProperties* Clone() override { return new CFATFileProperties(*this); }

    // Copies name, state, attribute, first clusters, times and size; never the extents.
    CFATFileProperties& operator=(const CFATFileProperties& other) {
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
    CFATFileProperties() = default;
    CFATFileProperties(const CFATFileProperties& other) : IFileProperties() { *this = other; }

    std::string m_name;
    i64 m_size = 0;
    u16 m_attribute = 0;
    _FILETIME m_creationTime = 0;
    _FILETIME m_modificationTime = 0;
    _FILETIME m_lastAccessTime = 0;
    u16 m_state = 0;  // bit 0: deleted
    u64 m_firstCluster = 0;
    u64 m_parentFirstCluster = 0;
    u64 m_metadataSector = 0;
};
