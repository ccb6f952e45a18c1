// MP3 files: the start analyser (ID3v2 tags and frame-synchronised starts), the record that guesses
// the end while sectors pass (a frame walk from the start, or from the end of an ID3v2 tag) and
// the device measurement of files whose guess was given up.
#pragma once

#include <memory>
#include <string>

#include "engine/RAWSearch/Analysers/Id3Tags.h"
#include "engine/RAWSearch/Analysers/MPAHeader.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class RawFileBuffer;
class StreamWindow;

class FileMP3Analyser : public IRawFileAnalyser {
public:
    static constexpr u32 kMinFrameFileSize = 10240;       // a frame-measured file must be longer
    static constexpr u64 kMaxFrameWalk = 0x81FFFFFF;      // bytes walked from a frame start
    static constexpr u64 kMaxTaggedWalk = 0x104000000;    // bytes walked after an ID3v2 tag
    static constexpr u32 kResync = 4096;                  // bytes stepped over to find the next header
    static constexpr u32 kApeSearch = 102400;

    FileMP3Analyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    std::string GetRawFileName() override { return m_title; }
    std::string GetRawFileTime() override { return m_year; }
    // Forgets the file measured last.
    void ResetFollowState() override;

    bool GetRawFileSizeXING(CRawFileInfo& info, RawFileBuffer& buffer);
    bool GetRawFileSizeFromFrame(CRawFileInfo& info, RawFileBuffer& buffer);
    void GetRawFileTagAndValue(RAW_FILE_TAG& kind, std::string& value) const;

private:
    void InitMemValue();
    // The frame walk after an ID3v2 tag of tagSize bytes; the walked length, 0 when nothing was found.
    u64 WalkTagged(RawFileBuffer& buffer, u64 tagSize, u32 sectorSize, std::string& charset, bool& endsOnV1);
    // Names the file from the ID3v1 tag at offset when it is one.
    void NameFromV1(CRawFileInfo& info, RawFileBuffer& buffer, u64 offset, std::string& charset);
    void Publish(CRawFileInfo& info) const;

    std::string m_title;
    std::string m_year;
    RAW_FILE_TAG m_tagKind = RAW_TAG_NONE;
    std::string m_artist;
    i64 m_lastStart = -1;     // the file measured last, in sectors
    i64 m_lastEnd = -1;
};

namespace BruteForce {

class MP3Analyzer : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    MP3Analyzer();
    ~MP3Analyzer() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long bufferStartSector, long long blockEndSector) override;
    CRawFileInfo* CreateRawFileInfo() override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    // Ends the "a frame-synchronised MP3 is followed" gate and forgets the device analyser's last file.
    void ResetFollowState() override;

    // The start sector of the frame-synchronised MP3 being followed, -1 for none.
    long long LastStartSector() const { return m_lastStartSector; }
    // A record of this analyser ends: the gate opens when it is the followed file.
    void FileEnded(long long startSector) {
        if (m_lastStartSector == startSector) m_lastStartSector = -1;
    }
    FileMP3Analyser* DeviceAnalyser() { return m_file.get(); }

    // The byte tests, decoding and frame-size limit of a frame-synchronised start.
    static bool DecodeStart(const unsigned char* header, CMPAHeader& out);

private:
    long long m_lastStartSector = -1;
    std::unique_ptr<FileMP3Analyser> m_file;
};

class MP3RawFileInfo : public CRawFileInfo {
public:
    static constexpr u32 kMinLength = 20480;
    static constexpr i64 kLengthCap = 209715200;       // 200 MiB
    static constexpr i64 kMaxTaggedGuess = 524288000;  // 500 MiB
    static constexpr u32 kMaxFramesPerCall = 1024;
    static constexpr u32 kZeroTail = 32;
    static constexpr u32 kByteRepeat = 64;
    static constexpr u32 kMaxTagGap = 65536;  // zero bytes stepped over after a tag

    explicit MP3RawFileInfo(MP3Analyzer* owner);
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    int CalcRawSizeEx(const StreamWindow& w, long long sectorNumber);
    // Hands the file to the device analyser.
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;

    static u64 GetTagSize(const unsigned char* bytes);
    static i64 FindJpegStartPos(const unsigned char* bytes, i64 length);

    u32 MinimumLength() const { return m_minLength; }
    i64 WalkedLength() const { return m_walked; }
    bool FrameWalk() const { return m_frameWalk; }

private:
    bool HealthTest(const StreamWindow& w) const;
    void GatherTagInfo(const StreamWindow& w);
    bool EndFound(const StreamWindow& w, long long sectorNumber, const SearchContext& ctx);
    void FindTagInEndSector(const ByteReader& bytes, size_t after, long long sectorNumber);
    int Finish(int result);
    // The tail after the last frame: ID3v1, APE or a "TAG" close by; bytes added.
    i64 Tail(const StreamWindow& w, i64 at);

    MP3Analyzer* m_owner;  // the analyser that accepted the file (outlives the search's records)
    i64 m_pictureOffset = 0;
    i64 m_pictureSize = 0;
    u32 m_minLength = kMinLength;
    i64 m_walked = 0;
    bool m_frameWalk = false;
    bool m_tagged = false;  // an ID3v2 tag first: the walk starts at its end
    u64 m_frames = 0;       // frames walked
    u32 m_skipped = 0;      // zero bytes stepped over between the tag and the first frame
    bool m_straddle = false;
    i64 m_walkLimit = 0;
    long long m_lastSector = -1;
    std::string m_charset;
};

}  // namespace BruteForce
