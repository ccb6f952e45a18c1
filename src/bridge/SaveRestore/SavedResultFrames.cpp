#include "bridge/SaveRestore/SavedResultFrames.h"

#include <deque>

#include "bridge/SaveRestore/RestoreFileNode.h"
#include "bridge/SaveRestore/SavedResultFormat.h"
#include "bridge/SaveRestore/SavedResultStream.h"

namespace saved_result {

namespace {

std::optional<std::vector<u8>> BlockOf(const void* data, u32 size) {
    if (!data || size == kAbsentBlock) return std::nullopt;
    const auto* p = static_cast<const u8*>(data);
    return std::vector<u8>(p, p + size);
}

void WriteBlock(SavedFrameWriter& out, const std::optional<std::vector<u8>>& block) {
    if (!block) {
        out.U32(kAbsentBlock);
        return;
    }
    out.U32(static_cast<u32>(block->size()));
    out.Bytes(block->data(), block->size());
}

std::optional<std::vector<u8>> ReadBlock(SavedFrameReader& in, u32 exactSize, const char* sizeField,
                                         const char* field) {
    const i64 at = in.Position();
    const u32 size = in.U32(sizeField);
    if (size == kAbsentBlock) return std::nullopt;
    if (size != exactSize) in.Fail(sizeField, at);
    std::vector<u8> block(size);
    in.Read(block.data(), size, field);
    return block;
}

}  // namespace

SavedDevice SavedDevice::From(const _DiskVolumeData& data) {
    SavedDevice d;
    d.capacity = data.capacity;
    d.diskIndex = data.diskIndex;
    d.volumeIndex = data.volumeIndex;
    d.fileSystem = data.fileSystem;
    d.name = data.name.substr(0, kMaxDeviceName - 1);
    d.isAppleDmg = data.isAppleDmg;
    d.dmgInfo = BlockOf(data.dmgInfo, data.dmgInfoSize);
    d.isEdi = data.isEdi;
    d.ediInfo = BlockOf(data.ediInfo, data.ediInfoSize);
    return d;
}

void OpenSavedFrame(IRSData& archive, const tagGUIDSIGN& tag, u32 code, const char* name) {
    try {
        archive.OpenFrame(tag);
    } catch (const CRSException&) {
        throw CSavedResultError(code, name, -1);
    }
}

void ReadSavedHeader(IRSData& archive) {
    bool valid = false;
    try {
        FILEHEADER header;
        valid = archive.ReadFileHeader(header) && archive.GetStatus() != 0;
    } catch (const CRSException&) {
        valid = false;
    }
    if (!valid) throw CSavedResultError(kCodeHeader, "file header", 0);
}

void WriteScanKind(IRSData& archive, const SavedScanKind& kind) {
    archive.OpenFrame(_frFileSystemSearchControllerList);
    SavedFrameWriter out(archive);
    out.U32(kFrame1Length);
    out.U32(kind.controllerType);
    out.U32(kind.deep);
    out.Flush();
    archive.CloseFrame();
}

SavedScanKind ReadScanKind(IRSData& archive) {
    OpenSavedFrame(archive, _frFileSystemSearchControllerList, kCodeFrame1, "frame 1 (scan kind)");
    SavedFrameReader in(archive, kCodeFrame1);
    const i64 at = in.Position();
    if (in.U32("frame-1 length") != kFrame1Length) in.Fail("frame-1 length", at);
    SavedScanKind kind;
    const i64 typeAt = in.Position();
    kind.controllerType = in.U32("controller type");
    if (kind.controllerType > 3) in.Fail("controller type", typeAt);
    kind.deep = in.U32("deep flag");
    archive.CloseFrame();
    return kind;
}

void WriteDevice(IRSData& archive, const SavedDevice& device) {
    archive.OpenFrame(_frDiskDevice);
    SavedFrameWriter out(archive);
    out.U64(device.capacity);
    out.I32(device.diskIndex);
    out.I32(device.volumeIndex);
    out.I32(device.fileSystem);
    const std::string name = device.name.substr(0, kMaxDeviceName - 1);
    out.U32(static_cast<u32>(name.size()));
    out.Bytes(name.data(), name.size());
    out.U32(device.isAppleDmg);
    WriteBlock(out, device.dmgInfo);
    out.U32(device.isEdi);
    WriteBlock(out, device.ediInfo);
    out.Flush();
    archive.CloseFrame();
}

SavedDevice ReadDevice(IRSData& archive) {
    OpenSavedFrame(archive, _frDiskDevice, kCodeFormat, "frame 2 (device)");
    SavedFrameReader in(archive, kCodeFormat);
    SavedDevice d;
    d.capacity = in.U64("capacity");
    d.diskIndex = in.I32("disk index");
    d.volumeIndex = in.I32("volume index");
    d.fileSystem = in.I32("file system");
    const i64 nameAt = in.Position();
    const u32 length = in.U32("device name length");
    if (length >= kMaxDeviceName || length > in.Left()) in.Fail("device name length", nameAt);
    d.name.resize(length);
    in.Read(d.name.data(), length, "device name");
    d.isAppleDmg = in.U32("image flag");
    d.dmgInfo = ReadBlock(in, kDmgRecordSize, "image record size", "image record");
    d.isEdi = in.U32("EDI flag");
    d.ediInfo = ReadBlock(in, kEdiBlockSize, "EDI block size", "EDI block");
    archive.CloseFrame();
    return d;
}

bool WriteNodeTrees(IRSData& archive, const std::vector<SavedRoot>& roots, const std::function<bool()>& continued,
                    const std::function<void()>& step) {
    using SaveRestoreResult::RestoreFileNode;
    using SaveRestoreResult::RestoreSystemNode;
    archive.OpenFrame(_frFileSystemNode);
    SavedFrameWriter out(archive);
    out.U64(roots.size());
    bool complete = true;
    for (const SavedRoot& saved : roots) {
        if (!continued()) {
            complete = false;
            break;
        }
        out.U32(kRootMarker);
        RestoreSystemNode::WriteSystemNode(saved.root, out);
        if (step) step();
        // Every root carries its partition count, its nodes and the end marker, partitions or not.
        // More partitions than a reader takes would make a file that never loads: the save fails instead.
        if (saved.partitions.size() > kMaxPartitions) throw CRSException(RS_ERROR_WRITE);
        out.U32(static_cast<u32>(saved.partitions.size()));
        for (CSearchedPartitionInfo* record : saved.partitions) SaveRestoreResult::WritePartitionRecord(*record, out);
        std::deque<IFileNode*> folders{saved.root};
        while (!folders.empty() && complete) {
            IFileNode* folder = folders.front();
            folders.pop_front();
            for (IFileNode* child = folder->GetFirstChild(); child; child = child->GetNextNode()) {
                if (!continued()) {
                    complete = false;
                    break;
                }
                if (child->IsDirectory()) folders.push_back(child);
                out.U32(kNodeMarker);
                RestoreFileNode::WriteFileNode(child, out);
                if (step) step();
            }
        }
        if (!complete) break;
        out.U32(kEndMarker);
    }
    out.Flush();
    archive.CloseFrame();
    return complete;
}

}  // namespace saved_result
