// Audio and video files whose length stands in no header: their packets, pages, chunks or objects are
// walked while the sectors pass (a guessing record per file), and several formats also walk them on
// the device for a file whose guess was given up. Where a format must not start a second file inside
// the one being followed, the analyser keeps that state as a member, cleared when the followed record
// ends, when the search gives up one of the analyser's files and when a search starts.
#pragma once

#include <memory>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvTypes.h"
#include "engine/RAWSearch/Analysers/StreamSource.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

// ---- Flash video ----
// The walk of FLV tags from the first previous-tag size; shared by the record and the device.
struct FlvWalk {
    u64 walked = 9;
    u64 expectedPrevious = 0;
    u64 lastData = 1;
    // One tag at walked (its 8-byte head given); false when the file ends (walked then is its size).
    bool Step(const ByteReader& tag);
};
// "FLV", version 1 and a first previous-tag size of 0.
bool IsFlvHead(const ByteReader& head);

class FileFLVAnalyser : public IRawFileAnalyser {
public:
    FileFLVAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace Brance {

class FLVAnalyser : public IRawFileAnalyser {
public:
    FLVAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    CRawFileInfo* CreateRawFileInfo() override;
    // The tag types 8, 9 and 18 as 2, 4 and 8; 16 for any other.
    static int GetFlvTagType(u8 type);

private:
    std::unique_ptr<FileFLVAnalyser> m_device;
};

class FLVRawFileInfo : public StreamRecord {
public:
    explicit FLVRawFileInfo(IRawFileAnalyser* device);
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_device; }
    void initFLVFileInfoMemValue();

private:
    IRawFileAnalyser* m_device;
    FlvWalk m_walk;
    bool m_headChecked = false;
};

}  // namespace Brance

// ---- MPEG program streams ----
// The walk of start codes from the file's start; shared by the record and the device.
class MpgWalk {
public:
    enum class Until { Guess, Device };
    explicit MpgWalk(u64 packLength) : m_packLength(packLength) {}
    // Walks while the offset is below until; WalkStep::End when the file ended (Size() then holds its
    // size, 0 to drop it).
    template <class Source>
    WalkStep Run(Source& source, u64 until, Until mode);
    u64 Walked() const { return m_walked; }
    u64 Size() const { return m_size; }

    // The pack header's length named by bytes 4..7 of the start sector.
    static u64 PackLength(const ByteReader& head);

private:
    WalkStep Finish(u64 size) {
        m_size = size;
        return WalkStep::End;
    }

    u64 m_packLength;
    u64 m_walked = 0;
    u64 m_lastPacket = 0;
    u64 m_junkAt = 0;  // where the first try without a start code was
    u64 m_zeroRunStart = 0;
    int m_zeroRun = 0;
    bool m_steppedBack = false;
    u64 m_size = 0;
};

class FileMPGAnalyser : public IRawFileAnalyser {
public:
    FileMPGAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    void ResetFollowState() override { m_measuredStart = -1, m_measuredSectors = 0; }
    // The file it measured last: its start sector (-1 for none) and length in sectors.
    long long MeasuredStart() const { return m_measuredStart; }
    u64 MeasuredSectors() const { return m_measuredSectors; }

private:
    long long m_measuredStart = -1;
    u64 m_measuredSectors = 0;
};

namespace Brance {

class MPGAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    MPGAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long bufferStartSector, long long blockEndSector) override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    CRawFileInfo* CreateRawFileInfo() override;
    void ResetFollowState() override;
    long long PreviousStart() const { return m_previousStart; }
    void FileEnded(long long startSector) {
        if (m_previousStart == startSector) m_previousStart = -1;
    }
    FileMPGAnalyser* Device() { return m_device.get(); }

private:
    long long m_previousStart = -1;
    std::unique_ptr<FileMPGAnalyser> m_device;
};

class MPGRawFileInfo : public StreamRecord {
public:
    explicit MPGRawFileInfo(MPGAnalyser* owner);
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    void WillBeRemove(unsigned char*, long long) override;
    void initMPGFileInfoMemValue() { m_walk.reset(); }

private:
    int Finish(long long sectorNumber, u64 size);

    MPGAnalyser* m_owner;
    std::unique_ptr<MpgWalk> m_walk;
};

}  // namespace Brance

// ---- Ogg ----
// One page at walked: the page's size added, or the file's end.
template <class Source>
WalkStep OggPage(Source& source, u64& walked);

class CFileOggAnalyser : public IRawFileAnalyser {
public:
    CFileOggAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace Brance {

class OGGAnalyser : public IRawFileAnalyser {
public:
    OGGAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    CRawFileInfo* CreateRawFileInfo() override;
    void ResetFollowState() override { m_followed = -1; }
    // The start sector of the Ogg file being followed, -1 for none.
    long long Followed() const { return m_followed; }
    void Follow(long long startSector) { m_followed = startSector; }
    void FileEnded(long long startSector) {
        if (m_followed == startSector) m_followed = -1;
    }
    CFileOggAnalyser* Device() { return m_device.get(); }

private:
    long long m_followed = -1;
    std::unique_ptr<CFileOggAnalyser> m_device;
};

class OGGRawFileInfo : public StreamRecord {
public:
    explicit OGGRawFileInfo(OGGAnalyser* owner);
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    void WillBeRemove(unsigned char*, long long) override;
    void initOGGFileInfoMemValue() { m_walked = 0; }

private:
    int Finish(long long sectorNumber, u64 size);

    OGGAnalyser* m_owner;
    u64 m_walked = 0;
};

}  // namespace Brance

// ---- RealMedia ----
// RM or RMVB from the first 1024 bytes: "MDPR" with "Video Stream" within 160 bytes of it.
RAW_FILE_TYPE RealMediaKind(const ByteReader& head);
// The offset of the 20-byte end record of an RMVB file in bytes, or -1.
i64 FindRmvbEnd(const ByteReader& bytes);
// Where an RM walk stands inside the data chunk.
struct RmDataWalk {
    bool inPackets = false;  // walking the data chunk's packets
    bool anyPacket = false;  // at least one packet was walked
    u64 dataStart = 0;       // where the data chunk begins
    u64 statedEnd = 0;       // the data chunk's end as its size states it
};
// One chunk (or one packet of the data chunk) of an RM walk: WalkStep::End when the file ends (walked
// then is its size).
template <class Source>
WalkStep RmChunk(Source& source, u64& walked, RmDataWalk& data);

class FileRM_RMVBAnalyser : public IRawFileAnalyser {
public:
    FileRM_RMVBAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace Brance {

class RM_RMVBAnalyser : public IRawFileAnalyser {
public:
    RM_RMVBAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileRM_RMVBAnalyser> m_device;
};

class RM_RMVBRawFileInfo : public StreamRecord {
public:
    explicit RM_RMVBRawFileInfo(IRawFileAnalyser* device);
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_device; }
    void initRM_RMVBFileInfoMemValue() { m_walked = 0, m_kindKnown = false; }

private:
    IRawFileAnalyser* m_device;
    u64 m_walked = 0;
    RmDataWalk m_data;
    bool m_kindKnown = false;
};

}  // namespace Brance

// ---- MXF ----
namespace RawSpeed {

class MxfAnalyser : public IRawFileAnalyser {
public:
    MxfAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // The bytes a KLV packet occupies (key, BER length and value), from its first 25 bytes; absent
    // when the key is no MXF key or the length cannot be read.
    static std::optional<u64> PacketBytes(const ByteReader& packet);
};

class MxfRawFileInfo : public StreamRecord {
public:
    MxfRawFileInfo() { m_type = RAW_TYPE_MXF; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    u64 m_walked = 0;
};

}  // namespace RawSpeed

// ---- ASF ----
namespace BruteForce {

class CAsfAnalyser : public IRawFileAnalyser {
public:
    CAsfAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CAsfRawFileInfo : public StreamRecord {
public:
    CAsfRawFileInfo() { m_type = RAW_TYPE_ASF; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    // WMV for one video stream and nothing else, WMA for audio or video streams only, else ASF.
    static RAW_FILE_TYPE StreamKind(int videos, int audioOrVideo, int others);

private:
    u64 m_headerEnd = 0;
    u64 m_child = 0;
    u64 m_walked = 0;
    int m_videos = 0;
    int m_audioOrVideo = 0;
    int m_others = 0;
    bool m_childrenDone = false;
};

// ---- MPEG transport streams ----
class CM2TSAnalyser : public IRawFileAnalyser {
public:
    CM2TSAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    void ResetFollowState() override { m_followed = false; }
    // The sync byte at 0 (188-byte packets) or at 4 (192-byte packets).
    int GetRequiredBits(RequiredBits* tests) const override;
    // A sector start of a stream of 192-byte (time code first) or 188-byte packets.
    static bool isSourcePacket(const ByteReader& head);
    static bool JudeM2TSHeader(const ByteReader& head);
    bool Followed() const { return m_followed; }
    void FileEnded() { m_followed = false; }
    u64 PacketSize() const { return m_packetSize; }

private:
    bool m_followed = false;
    u64 m_packetSize = 188;
};

class CM2TSFileInfo : public StreamRecord {
public:
    CM2TSFileInfo(CM2TSAnalyser* owner, u64 packetSize);
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    void WillBeRemove(unsigned char*, long long) override;

private:
    int Finish(u64 size);

    CM2TSAnalyser* m_owner;
    u64 m_packetSize;
    u64 m_packets = 0;
};

// ---- AAC in ADTS frames ----
// The length of the ADTS frame whose header is given (9 bytes), absent when it is no frame header.
std::optional<u64> AdtsFrameLength(const ByteReader& header);

class CADTSAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    CADTSAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long bufferStartSector, long long blockEndSector) override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    CRawFileInfo* CreateRawFileInfo() override;
    void ResetFollowState() override { m_overflow = false; }
    // Raised when the last start was accepted because the block ended after a good frame; handed to
    // the record created for that start, and lowered.
    bool Overflow() const { return m_overflow; }

private:
    bool m_overflow = false;
};

class CADTSRawFileInfo : public StreamRecord {
public:
    // acceptedAtBlockEnd: the start was taken on fewer than five frames because the block ended.
    explicit CADTSRawFileInfo(bool acceptedAtBlockEnd);
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    bool m_acceptedAtBlockEnd;
    u64 m_walked = 0;
    u64 m_frames = 0;
};

// ---- Monkey's Audio ----
class CAPEAnalyser : public IRawFileAnalyser {
public:
    CAPEAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CAPERawFileInfo : public StreamRecord {
public:
    CAPERawFileInfo() { m_type = RAW_TYPE_APE; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    bool foundDescriptor() const { return false; }
    // An APE tag's length from its 32-byte footer: 0 when it is none.
    static u64 tagSize(const ByteReader& footer);

private:
    int Tail(const StreamWindow& w, const unsigned char* sector, int sectorSize, u32 zeroTail);

    bool m_headRead = false;
    u16 m_version = 0;
    u64 m_alignment = 0;
    u64 m_descriptorSize = 0;  // from version 3980 on: the whole size the descriptor gives
    u64 m_descriptorBytes = 0;
    // Before 3980: the seek table's entries read so far and the largest.
    u64 m_tableAt = 0;
    u64 m_tableEnd = 0;
    u64 m_lastFrame = 0;
    bool m_tableDone = false;
};

}  // namespace BruteForce
