// A file found by signature as a result node: one data run from its start sector, a name made of the
// analyser's proposal, a per-type counter and the extension, and times read from the found time text.
#pragma once

#include <string>
#include <vector>

#include "engine/Common/IFileProperties.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/Utility/FileNode.h"

// The per-type name counters of the result names, reset at the start of every signature search.
void ResetRawNameCounters();
// True when text is valid UTF-8 (null is not).
bool RawIsValidUtf8(const char* text);

class CRAWFileProperties : public IFileProperties {
public:
    static constexpr u16 kAttributeDirectory = 16;
    static constexpr u16 kAttributeFile = 32;

    ~CRAWFileProperties() override;
    static CRAWFileProperties* Create() { return new CRAWFileProperties(); }
    static void Destory(CRAWFileProperties* properties) { delete properties; }

    u16 GetFileNameLength() override;
    void SetFileName(const char*) override {}
    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return static_cast<i64>(m_size); }
    u16 GetAttribute() override { return m_attribute; }
    const char* GetRawFileCreateTime() override { return m_time.c_str(); }
    _FILETIME GetCreationTime() override { return 0; }
    _FILETIME GetModificationTime() override { return 0; }
    _FILETIME GetLastAccessTime() override { return 0; }
    u16 GetState() override { return m_state; }
    void SetState(u16 state) override { m_state = static_cast<u8>(state); }
    IDataRunList* GetDataRunList() override { return m_dataRuns; }
    // A copy the caller owns (handing out the record itself would let the caller delete it twice).
    IFileProperties* Clone() override;
    virtual u8 GetCheckState() { return m_checkState; }
    virtual void SetCheckState(u8 state) { m_checkState = state; }
    virtual u32 GetMaskFlag() { return 463; }
    virtual u8 GetMatchState() { return m_matchState; }
    virtual int SetMatchState(int state) {
        m_matchState = static_cast<u8>(state);
        return 1;
    }

    int InitRawFileProperties(CRawFileInfo& info);
    void SetRawFileName(const char* name);
    void SetRawFileTime(std::string time) { m_time = std::move(time); }
    void SetAttribute(u16 attribute) { m_attribute = attribute; }
    const std::string& GetTimeText() const { return m_time; }

private:
    CRAWFileProperties() = default;
    CRAWFileProperties(const CRAWFileProperties& other);

    std::string m_name;
    u64 m_size = 0;
    u16 m_attribute = 0;
    u8 m_checkState = 0;
    u8 m_matchState = 0;
    u8 m_state = 0;
    std::string m_time;
    IDataRunList* m_dataRuns = nullptr;  // owned
};

class CRAWFileNode : public CFileNode {
public:
    CRAWFileNode() = default;
    ~CRAWFileNode() override;

    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return m_properties != nullptr ? m_properties->GetFileSize() : 0; }
    u16 GetAttribute() override { return m_properties != nullptr ? m_properties->GetAttribute() : 0; }
    _FILETIME GetCreationTime() override { return GetLastAccessTime(); }
    _FILETIME GetModificationTime() override { return GetLastAccessTime(); }
    _FILETIME GetLastAccessTime() override;
    u32 IsDirectory() override {
        return m_properties == nullptr ? 1 : ((m_properties->GetAttribute() & 16) != 0 ? 1 : 0);
    }
    u32 IsDeleted() override { return 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_RAW; }
    // A copy without tree links that the caller owns.
    IFileNode* Clone() override;
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}

    // 0 for a null record. Folders (attribute bit 16) take the record's name; files are named by
    // BuildFileName. The record's time text is kept whether or not it has a name.
    int Initilaize(CRawFileInfo* info, unsigned attribute, long long parentID, long long nodeID);
    // "%s%03d.%s" (name, the type's counter, extension) or "FILE%03d.%s"; the type's counter grows.
    static std::string BuildFileName(unsigned short type, const char* name);
    // Cuts the text at blanks, "-" and ":"; 0 for a text shorter than 2 characters or only blanks.
    static int FileTimeStructs(std::string text, std::vector<std::string>& fields);

    CRAWFileProperties* GetProperties() { return m_properties; }
    // Used by the tag tree, which names the properties before the node is initialised.
    void SetProperties(CRAWFileProperties* properties);

private:
    CRAWFileNode(const CRAWFileNode& other);

    CRAWFileProperties* m_properties = nullptr;  // owned
    std::string m_name;
};
