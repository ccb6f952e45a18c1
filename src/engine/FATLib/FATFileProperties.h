// The properties of one FAT directory entry (name, size, attribute, times, state, clusters), and the
// builder that makes them from a run of long-name entries and an 8.3 entry.
#pragma once

#include <string>

#include "engine/Common/IFileProperties.h"

class CFATFileProperties : public IFileProperties {
public:
    CFATFileProperties() = default;
    // A copy with its own name and its own copy of the run list.
    CFATFileProperties(const CFATFileProperties& other);
    ~CFATFileProperties() override;

    static CFATFileProperties* Create();
    static void Destory(CFATFileProperties* properties);

    u16 GetFileNameLength() override { return static_cast<u16>(m_name.size()); }
    // Keeps a copy of the name; none clears it.
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
    IDataRunList* GetDataRunList() override { return m_dataRuns; }
    IFileProperties* Clone() override;

    // Takes ownership of the list (the old one is released).
    void SetDataRunList(IDataRunList* list);

    // Copies name, state, attribute, first clusters, times and size; never the extents (the node's run
    // list moves through the file model's node merging).
    CFATFileProperties& operator=(const CFATFileProperties& other);

    std::string m_name;
    i64 m_size = 0;
    u16 m_attribute = 0;
    _FILETIME m_creationTime = 0;
    _FILETIME m_modificationTime = 0;
    _FILETIME m_lastAccessTime = 0;
    u16 m_state = 0;  // bit 0 deleted; bits 0 and 3 together: a lost folder made by the tree worker
    u64 m_firstCluster = 0;
    u64 m_parentFirstCluster = 0;
    u64 m_metadataSector = 0;

private:
    IDataRunList* m_dataRuns = nullptr;
};

class CFATFilePropertiesBuilder {
public:
    // Entries: long-name pieces in on-disk order followed by an 8.3 entry; length in bytes.
    // None when no 8.3 entry ends the run or the long name grows past 2047 bytes.
    static CFATFileProperties* BuildFATFilePropertyFromDirEntryBuffer(const u8* entries, u32 length);
    static CFATFileProperties* BuildFATFilePropertyFromDirEntry(const std::string& name, const u8* entry);
};
