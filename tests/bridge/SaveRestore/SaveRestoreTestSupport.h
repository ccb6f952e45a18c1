// Reading saved scan results back in tests: a load into a capturing builder, and the bytes of one
// node record or partition record as the writer makes them (to compare records byte for byte).
#pragma once

#include <memory>
#include <string>

#include "bridge/SaveRestore/RestoreFileNode.h"
#include "bridge/SaveRestore/RestoreScanSink.h"
#include "bridge/SaveRestore/SavedResultFormat.h"
#include "bridge/SaveRestore/SavedResultFrames.h"
#include "bridge/SaveRestore/SavedResultStream.h"
#include "engine/FileArchive/RSData.h"
#include "support/CapturingTreeBuilder.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace saved_result {

using SaveRestoreResult::CRestoreScanSink;
using SaveRestoreResult::RestoreFileNode;

// What one load gives: the scan kind, the device and the replay into a capturing builder.
struct Loaded {
    u32 code = 0;
    std::string field;
    i64 offset = -1;
    SavedScanKind kind;
    SavedDevice device;
    testsupport::CapturingTreeBuilder builder;
    std::unique_ptr<CRestoreScanSink> sink;
    std::unique_ptr<CRSData> archive;
};

inline std::unique_ptr<Loaded> Load(const std::string& path, CRestoreScanSink::Selection selection = {}) {
    auto out = std::make_unique<Loaded>();
    out->archive = std::make_unique<CRSData>(RS_MODE_READ);
    if (!out->archive->StartRS(path.c_str(), 0)) {
        out->code = 2;
        return out;
    }
    try {
        ReadSavedHeader(*out->archive);
        out->kind = ReadScanKind(*out->archive);
        out->device = ReadDevice(*out->archive);
    } catch (const CSavedResultError& e) {
        out->code = e.GetErrorcode();
        out->field = e.Field();
        out->offset = e.Offset();
        return out;
    }
    out->sink = std::make_unique<CRestoreScanSink>(out->archive.get());
    out->sink->SetSelection(selection);
    testsupport::RecordingProgress progress;
    out->sink->SetDirecotryTreeBuilder(&out->builder, &progress, nullptr);
    out->code = out->sink->ErrorCode();
    out->field = out->sink->ErrorField();
    out->offset = out->sink->ErrorOffset();
    return out;
}

// The bytes of one file-node record as the writer makes it.
inline std::string RecordOf(IFileNode* node) {
    testsupport::TempDir dir;
    const std::string path = (dir.path() / "r").string();
    {
        CRSData rs(RS_MODE_WRITE);
        rs.StartRS(path.c_str(), 1);
        rs.WriteFileHeader(FILEHEADER{});
        rs.OpenFrame(_frFileSystemNode);
        SavedFrameWriter w(rs);
        RestoreFileNode::WriteFileNode(node, w);
        w.Flush();
        rs.CloseFrame();
        rs.EndRS();
    }
    return testsupport::ReadFile(path).substr(kRSHeaderSize + kRSFrameHeaderSize);
}

// The bytes of one partition record as the writer makes them.
inline std::string PartitionRecordOf(CSearchedPartitionInfo& record) {
    testsupport::TempDir dir;
    const std::string path = (dir.path() / "p").string();
    {
        CRSData rs(RS_MODE_WRITE);
        rs.StartRS(path.c_str(), 1);
        rs.WriteFileHeader(FILEHEADER{});
        rs.OpenFrame(_frFileSystemNode);
        SavedFrameWriter w(rs);
        SaveRestoreResult::WritePartitionRecord(record, w);
        w.Flush();
        rs.CloseFrame();
        rs.EndRS();
    }
    return testsupport::ReadFile(path).substr(kRSHeaderSize + kRSFrameHeaderSize);
}

}  // namespace saved_result
