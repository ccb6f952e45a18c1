// QuickTime and ISO base media files (MOV, MP4, M4A, M4V, 3GP, TREC): the start analysers decide the
// type from the "ftyp" box, and one record walks the top-level boxes as their sectors pass.
#pragma once

#include <cstddef>
#include <string>

#include "engine/RAWSearch/Core/RawFileInfo.h"

class StreamWindow;

namespace BruteForce {

class MovAnalyzer : public IRawFileAnalyser {
public:
    MovAnalyzer();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // The list lookup needs the three high bytes of the size zero and "ftyp" after them.
    int GetRequiredBits(RequiredBits* tests) const override;

    // The type that the major brand of the "ftyp" box at box (at least 512 bytes) gives, 0 when the
    // brand is not in the table.
    static RAW_FILE_TYPE getTypeByMajorBrand(const unsigned char* box);

protected:
    MovAnalyzer(RAW_FILE_TYPE type, IRawFileAnalyser* deviceAnalyser);

    RAW_FILE_TYPE m_type;
    IRawFileAnalyser* m_deviceAnalyser;  // measures abandoned records from the device; not owned
};

class C3GPAnalyser : public MovAnalyzer {
public:
    C3GPAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

// The record of a box file: walks the top-level boxes while their sectors pass; its size is the
// offset reached when a box of another type (or a second "ftyp") ends the walk.
class MovRawFileInfo : public CRawFileInfo {
public:
    static constexpr u32 kMinBoxes = 2;

    MovRawFileInfo(RAW_FILE_TYPE type, IRawFileAnalyser* deviceAnalyser);
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    // Finishes the walk where it stands; the device analyser (if any) measures a file left without size.
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;

    i64 WalkedLength() const { return m_walked; }
    u32 BoxCount() const { return m_boxCount; }
    u32 MoovCount() const { return m_moovCount; }

private:
    void endSearch(const StreamWindow* w);
    // Make, model and date from an Exif block in the first 1024 bytes of the "moov" box at offset.
    void ReadCameraTags(const StreamWindow& w, i64 offset);
    // A make written as text ("iPhone ", "iPad ") near an "trex" box at the current sector.
    void FindMakeText(const StreamWindow* w);
    void SetMake(const std::string& make);

    IRawFileAnalyser* m_deviceAnalyser;
    i64 m_walked = 0;
    u32 m_moovCount = 0;
    bool m_iso = false;
    u32 m_boxCount = 0;
    bool m_ended = false;
    std::string m_cameraMake;
    std::string m_tagName;
    i64 m_sectorSize = 512;
    const unsigned char* m_lastSector = nullptr;  // the sector WillBeRemove was given, for the text search
};

}  // namespace BruteForce

// TREC when "free" follows the "ftyp" box at offset 28, MP4 otherwise.
RAW_FILE_TYPE Mp4OrTrec(const unsigned char* box);
