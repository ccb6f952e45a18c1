// ZIP archives and the documents that are ZIP archives inside (office open XML, OpenDocument, EPUB,
// iOS packages, iWork, Outlook for Mac, CorelDRAW, tax files): the archive's end from its blocks, the
// kind from its entry names, and for office documents a name, time and tag from docProps/core.xml.
// A file is sized while the search reads on (ZIPRawFileInfo) or from the device (GetRawFileSize).
#pragma once

#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileProperty.h"
#include "engine/RAWSearch/Analysers/OfficeTagFromXML.h"
#include "engine/RAWSearch/Analysers/ZipSearch.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class RawFileBuffer;
class StreamWindow;

class FileZIPAnalyser : public IRawFileAnalyser {
public:
    class ZIPRawFileInfo;

    FileZIPAnalyser() : IRawFileAnalyser(RAW_TYPE_ZIP) {}

    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    // True when the first entry is an iOS application package's application folder ("Payload/X.app/...").
    static bool ZipIpaFileType(const ByteReader& header);
    // The device walk's reading of the first local header: office for "[Content_Types].xml",
    // "docProps/app.xml", "Categories.xml" or a name holding "doc" or "ppt"; drawing for
    // "content/riffData.cdr".
    void JudgeMaybeOfficeType(const ByteReader& header);
    // The guessing record's reading: office for names beginning "[Content_Types].xml",
    // "docProps/app.xml", "word/theme/theme1.xml", "_rels/.rels" or "Categories.xml"; otherwise drawing
    // for one beginning "content/riffData.cdr".
    static void JudgeMaybeOfficeType(const ByteReader& header, bool& office, bool& drawing);
    // The end of an archive whose sizes follow their data: the "PK" 05 06 record found in the 512-byte
    // units from offset that end in zeros.
    static u64 GetProbablySize(u64 offset, RawFileBuffer& file);

    bool IsOffice() const { return m_office; }
    bool IsDrawing() const { return m_drawing; }

private:
    bool m_office = false;
    bool m_drawing = false;
};

class FileZIPAnalyser::ZIPRawFileInfo : public CRawFileInfo {
public:
    static constexpr u64 kCap = 200000000;
    static constexpr u64 kOfficeCap = 20000000;

    ZIPRawFileInfo() { m_type = RAW_TYPE_ZIP; }

    bool WhetherImplementGuess() override { return true; }
    // Names the file from what was read so far; its size is left to the device.
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    // A local header at a sector start inside the archive is one of its entries: where the walk expects
    // the next block, or anywhere while the walk cannot place its blocks (sizes behind the data). One
    // inside an entry's data is an archive stored in it, a file of its own.
    bool OwnsStart(const unsigned char* sector, int sectorSize, long long sectorNumber) const override;

    // Names the file found up to sectorNumber: an office document whose metadata was read from its title
    // or people and time (and tags it), any other from its first and last sectors.
    void FillFileInfo(long long sectorNumber);
    // The first place in the sector where 00 "word/", 00 "ppt/" or 00 "xl/" stands types the document.
    void JudeOleType(const unsigned char* sector, int length);

    u64 Cap() const { return m_cap; }
    bool IsOffice() const { return m_office; }
    const FileProperty& Properties() const { return m_properties; }
    bool TagFound() const { return m_tagFound; }

private:
    enum class Block { Read, Invalid, NotInHand, GiveUp };
    Block CheckZIPBlock(const StreamWindow& window);
    void Walk(const StreamWindow& window);
    void ReadPendingMetadata(const StreamWindow& window);
    void LookForEndRecord(const StreamWindow& window, u32 trailingZeroBytes);
    // An end record whose last byte lies in the current sector and whose central directory, as it states
    // it, ends where the record begins: the archive's own, also when it straddles two sectors or when
    // fewer than 17 zero bytes follow it. The end record of an archive stored inside never matches (its
    // offsets count from its own start).
    bool FindOwnEndRecord(const StreamWindow& window);
    void Finish(u64 size);

    bool m_office = false;
    bool m_firstEntryHasSizes = false;
    bool m_entryNamed = false;
    bool m_sizesInHeader = true;
    bool m_walkStopped = false;  // an entry's sizes follow its data: the blocks cannot be followed further
    bool m_finished = false;
    u64 m_nextBlock = 0;  // file offset of the next block to read
    u64 m_walkEnd = 0;    // just after the last block read
    u64 m_cap = kCap;
    bool m_metadataPending = false;
    i64 m_metadataOffset = 0;  // file offset of the local header of a docProps/core.xml not yet read
    tagZipLocalFileHeader m_metadataHeader;
    FileProperty m_properties;
    bool m_tagFound = false;
    u32 m_typeFound = RAW_TYPE_ZIP;
    Brance::OfficeTagFromXML m_metadata;
};
