// Standard MIDI files: a "MThd" header chunk, then "MTrk" chunks. The guessing record walks the chunks
// while their sectors pass; the device analyser walks them on the device when the guess is given up.
// Both end the file after the last track the header counts, or at a chunk of another kind before it.
#pragma once

#include <memory>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

// The start test of both analysers: header length 6, format at most 2, at least one track.
bool IsMidiHeader(const ByteReader& head);
// The length of the chunk whose 8-byte header is given (the header included) when it is a track
// chunk ("MTrk", letters in any case); absent for any other chunk.
std::optional<u64> MidiTrackChunkLength(const ByteReader& header);

class FileMIDAnalyser : public IRawFileAnalyser {
public:
    FileMIDAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace RawSpeed {

class MIDAnalyser : public IRawFileAnalyser {
public:
    MIDAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Guesses are sized by their record; the device analyser sizes those given up.
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override { return false; }
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileMIDAnalyser> m_deviceAnalyser;
};

class MIDRawFileInfo : public CRawFileInfo {
public:
    explicit MIDRawFileInfo(IRawFileAnalyser* deviceAnalyser);
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    // The device analyser measures a file given up without a size.
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;

private:
    int End(long long sectorNumber, u64 size);

    IRawFileAnalyser* m_deviceAnalyser;
    u64 m_walked = 0;
    u16 m_tracks = 0;  // as the header counts them
    u16 m_tracksWalked = 0;
    bool m_ended = false;
};

}  // namespace RawSpeed
