// OLE compound files (legacy Word, Excel and PowerPoint documents and the files of several other
// applications): the writing application from the names of the first directory entries, the length
// from the file allocation table, and a name, time and office tag from the SummaryInformation stream.
// A file is sized while the search reads on (OleRawFileInfo) or, when that cannot finish, from the
// device (GetRawFileSize).
#pragma once

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileProperty.h"
#include "engine/RAWSearch/Analysers/OleLayout.h"
#include "engine/RAWSearch/Analysers/SummaryInformation.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class RawFileBuffer;
class StreamWindow;

// Types a compound file may be given.
enum : RAW_FILE_TYPE {
    RAW_TYPE_ADP = 3,
    RAW_TYPE_MAX = 37,
    RAW_TYPE_MOF = 41,
    RAW_TYPE_MPP = 47,
    RAW_TYPE_OLE = 48,
    RAW_TYPE_PUB = 53,
    RAW_TYPE_QPW = 57,
    RAW_TYPE_SHW = 61,
    RAW_TYPE_VSD = 66,
    RAW_TYPE_WPD = 68,
    RAW_TYPE_IPT = 140,
    RAW_TYPE_AAF = 141,
};

class FileOLEAnalyser : public IRawFileAnalyser {
public:
    class OleRawFileInfo;

    FileOLEAnalyser() : IRawFileAnalyser(RAW_TYPE_OLE) {}

    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    // The OLE sector size the header announces: 4096 for version 4 with sector shift 12, else 512.
    static u32 OleSectorSize(const ByteReader& header);
    // Reads count 512-byte units at byte unit x oleSectorSize of the file, whatever the device's sector
    // size; false when any of it cannot be read.
    static bool Simulate512ReadSector(void* buffer, RawFileBuffer& file, u64 unit, u32 oleSectorSize, u64 count);
    // Sets info's type from the first entries of the directory in the length bytes (at most 8 entries).
    static void CheckSectDirData(const unsigned char* directory, int length, CRawFileInfo* info);

    u32 GetOleSectorScale() const { return m_oleSectorScale; }

private:
    u32 m_oleSectorScale = 1;  // device sectors per OLE sector, as the last GetRawFileSize found it
};

class FileOLEAnalyser::OleRawFileInfo : public CRawFileInfo {
public:
    OleRawFileInfo() { m_type = RAW_TYPE_MOF; }

    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    // Takes the FAT sectors, the first DIFAT sector and the directory position from the header.
    void CheckStorageHeader(const ByteReader& header);
    // Takes the FAT sectors and the next link of a DIFAT sector; false when the chain does not go on
    // forward (a link back would never be met).
    bool CheckSectDifStart(const ByteReader& difat);
    // Name, time and tag from the summary texts.
    void SetFileName(const FileProperty& properties);
    // The office tag, for Word, Excel and PowerPoint files only; the name then begins with it.
    void SetFileTag(const std::string& text);

    const FileProperty& Properties() const { return m_properties; }
    bool SummaryFound() const { return m_summaryFound; }

private:
    enum class Place { Held, Later, Passed };
    static Place Where(const StreamWindow& window, i64 offset, u64 length);
    // The file offset of OLE sector s.
    u64 SectorOffset(u32 s) const { return (u64{s} + 1) * m_oleSectorSize; }
    void LookForSummary(const StreamWindow& window);
    // Ends the guess without a size: the device sizes the file.
    int GiveUp();

    FileProperty m_properties;
    CSummaryInFormation m_summary;
    bool m_finished = false;
    bool m_summaryFound = false;
    bool m_fatListComplete = false;
    bool m_sizeKnown = false;
    bool m_directoryHandled = false;
    u32 m_oleSectorSize = ole_layout::kSmallSector;
    u64 m_fatCount = 0;       // FAT sectors named so far
    u32 m_lastFat = 0;        // the OLE sector of the last one named
    u32 m_nextDifat = 0;      // the next DIFAT sector to read, while the list is not complete
    u64 m_difatSectors = 0;   // DIFAT sectors read
    u32 m_directory = 0;      // the first directory sector
};
