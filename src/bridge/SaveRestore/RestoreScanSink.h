// Replays frame 3 of a loaded scan result into the engine's tree builder, in place of the searchers,
// and keeps the restored partition records for the data-recovery objects.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/Common/RestoreScanSink.h"
#include "engine/FileArchive/IRSData.h"

namespace SaveRestoreResult {

class CRestoreScanSink : public ::RestoreScanSink {
public:
    // Which roots a load takes: all of them (a whole disk, an Apple or EDI image), or one root of the
    // loaded volume's name: the first one that no earlier replay of this sink took (two volumes of one
    // name on a disk each get their own root, in the order they were scanned).
    struct Selection {
        bool takeAll = true;
        std::string volumeName;
    };

    // archive: open for reading, not owned.
    explicit CRestoreScanSink(IRSData* archive) : m_archive(archive) {}
    ~CRestoreScanSink() override { ClearMapCell(); }
    CRestoreScanSink(const CRestoreScanSink&) = delete;
    CRestoreScanSink& operator=(const CRestoreScanSink&) = delete;

    void SetSelection(Selection selection) { m_selection = std::move(selection); }
    // Chooses the selection for the device of each replay (a whole-disk quick result is replayed volume
    // by volume); no answer: nothing is replayed for that device. Without a selector SetSelection's holds.
    using Selector = std::function<std::optional<Selection>(IStorageDevice*)>;
    void SetSelector(Selector selector) { m_selector = std::move(selector); }
    // Runs after each root and node read (the load's progress).
    void SetStep(std::function<void()> step) { m_step = std::move(step); }

    // Replays frame 3; success, or a failure code when the frame is refused (ErrorCode tells which).
    // What reached the builder before a refusal stays there.
    u64 SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress, IStorageDevice* device) override;
    std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int searcherType) override;
    // Frees every restored partition record; the sink stays usable.
    void ClearMapCell();

    // 0 after a complete replay; the load's error code (5) after a refused one.
    u32 ErrorCode() const { return m_errorCode; }
    const std::string& ErrorField() const { return m_errorField; }
    i64 ErrorOffset() const { return m_errorOffset; }
    // True when the progress sink stopped the replay before its end.
    bool Stopped() const { return m_stopped; }

private:
    void Replay(IDirecotryTreeBuilder* builder, IProgress* progress);
    void Step() {
        if (m_step) m_step();
    }

    IRSData* m_archive;
    IStorageDevice* m_device = nullptr;
    Selection m_selection;
    Selector m_selector;
    std::function<void()> m_step;
    std::map<int, std::vector<CSearchedPartitionInfo*>> m_partitions;
    u32 m_errorCode = 0;
    std::string m_errorField;
    i64 m_errorOffset = -1;
    bool m_stopped = false;
    // The roots (by their place in frame 3) taken by a replay of one volume.
    std::set<u64> m_takenRoots;
};

}  // namespace SaveRestoreResult
