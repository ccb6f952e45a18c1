// One file found by signature, and the analyser interfaces that decide, size and name it.
#pragma once

#include <string>

#include "engine/Common/Types.h"
#include "engine/RAWSearch/Core/RawFileTypes.h"

class IStorageDevice;
class IRawFileAnalyser;

// Removes trailing blanks and replaces the characters a file name cannot hold by "_".
std::string CleanRawFileName(std::string text);

// Results of CRawFileInfo::CalcRawSize.
enum : int {
    RAW_SIZE_FINISHED = 1,
    RAW_SIZE_CONTINUE = 2,
};

class CRawFileInfo {
public:
    // What the search knows about the sector it hands to an analyser or a guessing record.
    struct SearchContext {
        i64 bufferStartSector = 0;  // absolute sector where the search's double buffer begins
        i64 blockEndSector = 0;     // absolute sector just after the current block
        u32 leadingZero = 0;        // 4 when the sector's first 32-bit word is zero
        u32 trailingZeroBytes = 0;  // zero bytes at the sector's end, whole words, at most 32
        CRawFileInfo* newFileHere = nullptr;  // the file just found at this sector (not the record itself)
    };

    CRawFileInfo() = default;
    virtual ~CRawFileInfo() = default;
    CRawFileInfo(const CRawFileInfo&) = default;
    CRawFileInfo& operator=(const CRawFileInfo&) = default;

    // True for records that size themselves sector by sector while the search reads on.
    virtual bool WhetherImplementGuess() { return false; }
    // The record leaves the guessing set without a size (evicted, given up, or the search ends:
    // then sector is null and sectorNumber -1).
    virtual void WillBeRemove(unsigned char* sector, long long sectorNumber) {}
    // Called for every later sector; RAW_SIZE_FINISHED when done, RAW_SIZE_CONTINUE otherwise.
    virtual int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
        return RAW_SIZE_CONTINUE;
    }
    // True when a signature found at sectorNumber (after this record's start, before the record has read
    // that sector) is a part of this file, not a new one: an archive's own entry header, for example.
    virtual bool OwnsStart(const unsigned char* sector, int sectorSize, long long sectorNumber) const {
        return false;
    }

    // Back to the state of a new record, without allocating (the lookup clears its scratch record so
    // before each analyser it asks).
    void Reset();

    void GetRawFileTagAndValue(RAW_FILE_TAG& kind, std::string& value) const;
    void SetRawFileTagAndValue(RAW_FILE_TAG kind, std::string value);
    void SetRawFileName(std::string name);
    const std::string& GetRawFileName() const { return m_name; }
    void SetRawFileTime(std::string time) { m_time = std::move(time); }
    const std::string& GetRawFileTime() const { return m_time; }

    i64 m_startSector = 0;
    u64 m_size = 0;  // bytes; 0 while unknown
    RAW_FILE_TYPE m_type = 0;
    u32 m_analyserType = 0xFFFF;
    IRawFileAnalyser* m_analyser = nullptr;  // not owned

protected:
    std::string m_name;
    std::string m_time;
    RAW_FILE_TAG m_tagKind = RAW_TAG_NONE;
    std::string m_tagValue;
};

// The second interface of analysers that need to know where the sector lies in the search's buffer.
class ISpecialRawFileAnalyser {
public:
    virtual ~ISpecialRawFileAnalyser() = default;
    // Non-zero to accept. The sector lies in the search's double buffer, which runs from
    // bufferStartSector to blockEndSector (plus some spare bytes).
    virtual int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                long long sectorNumber, long long bufferStartSector, long long blockEndSector) = 0;
};

class IRawFileAnalyser {
public:
    explicit IRawFileAnalyser(i32 defaultType) : m_defaultType(defaultType) {}
    virtual ~IRawFileAnalyser() = default;
    IRawFileAnalyser(const IRawFileAnalyser&) = delete;
    IRawFileAnalyser& operator=(const IRawFileAnalyser&) = delete;

    // Sizes a record that has none by reading the device from its start sector.
    virtual bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) { return true; }
    // 1 when the sector (which starts with one of this analyser's signatures) begins a file of it.
    virtual int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) = 0;
    virtual std::string GetRawFileName() { return {}; }
    virtual std::string GetRawFileTime() { return {}; }
    virtual CRawFileInfo* CreateRawFileInfo() { return new CRawFileInfo(); }
    virtual ISpecialRawFileAnalyser* GetSpecialRawFile() { return nullptr; }
    // A 32-bit word (little-endian, at offset, within the first 512 bytes) without which AnalyseBuffer
    // refuses a sector, so that the list lookup can turn sectors away without asking; false for none.
    virtual bool GetRequiredWord(u32& offset, u32& value) const { return false; }
    // The same for an analyser that needs one of a few byte patterns, or only some bits of them: the
    // number of tests written (at most kMaxRequiredBits), of which AnalyseBuffer needs at least one to
    // hold; 0 for none. Each tests the 8 bytes at offset (within the first 512), read as a
    // little-endian 64-bit number. By default the word of GetRequiredWord, all its bits.
    struct RequiredBits {
        u32 offset;
        u64 mask;   // the bits that are tested
        u64 value;  // what they must be (bits outside the mask zero)
    };
    static constexpr int kMaxRequiredBits = 4;
    virtual int GetRequiredBits(RequiredBits* tests) const {
        u32 offset = 0, value = 0;
        if (!GetRequiredWord(offset, value)) return 0;
        tests[0] = {offset, 0xFFFFFFFFu, value};
        return 1;
    }
    // Clears what the analyser keeps about a file it is following (such as "a stream is being
    // followed, do not start another"); the search calls it when a search starts and when it gives up
    // one of the analyser's files, so no stale state outlives its file.
    virtual void ResetFollowState() {}

    i32 GetDefaultType() const { return m_defaultType; }

protected:
    i32 m_defaultType;  // -1 where the type comes from the content only
};
