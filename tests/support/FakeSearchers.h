// Searchers for tests: they keep a shared log of the calls they receive, hand out the partition
// records they are given, and can publish nodes to the tree builder.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace testsupport {

// The calls of every fake, in order, as "name:call" lines.
class CallLog {
public:
    void Add(const std::string& line);
    std::vector<std::string> Lines() const;
    // Only the lines that end with call (":call" or ":call(...)").
    std::vector<std::string> Calls(const std::string& call) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// The partition-info contract shared by the fakes.
class FakePartitions {
public:
    ~FakePartitions();
    // Takes ownership.
    void AddPartition(CSearchedPartitionInfo* record) { m_records.push_back(record); }
    int Copy(CSearchedPartitionInfo** out, int capacity) { return CopySearchedPartitionInfo(m_records, out, capacity); }

private:
    std::vector<CSearchedPartitionInfo*> m_records;
};

class FakeDeepSearcher : public ICompleteFileSystemSearchController, public FakePartitions {
public:
    FakeDeepSearcher(std::string name, CallLog* log) : m_name(std::move(name)), m_log(log) {}
    ~FakeDeepSearcher() override;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override { return Copy(out, capacity); }
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectors) override;
    int PreparetoSearch() override;
    int EndSearch(int build) override;
    int AnalyzeBlock(i64 firstSector, i64 sectorCount) override;
    void SetIProgressSink(IProgress* progress) override;
    void SetBitmap(TBitmap* bitmap) override;
    void SetFileSectorMap(FileSectorMap* map) override;
    bool SetActivePartition(bool active) override;

    // Called with the bytes of each block (read through the device given by SetDevice).
    std::function<void(i64 first, i64 count, const std::vector<u8>& bytes)> onBlock;
    // Called at EndSearch with the builder, to publish nodes.
    std::function<void(IDirecotryTreeBuilder* builder)> onEnd;

    IStorageDevice* device = nullptr;
    IDirecotryTreeBuilder* builder = nullptr;
    IProgress* progress = nullptr;
    TBitmap* bitmap = nullptr;
    FileSectorMap* sectorMap = nullptr;
    int blockSize = 0;

private:
    std::string m_name;
    CallLog* m_log;
};

class FakeQuickSearcher : public IQuickFileSystemSearchController, public FakePartitions {
public:
    FakeQuickSearcher(std::string name, CallLog* log, u64 code = 0) : m_name(std::move(name)), m_log(log), m_code(code) {}
    ~FakeQuickSearcher() override;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override { return Copy(out, capacity); }
    u64 QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    std::function<void(IDirecotryTreeBuilder* builder)> onSearch;
    IDirecotryTreeBuilder* builder = nullptr;

private:
    std::string m_name;
    CallLog* m_log;
    u64 m_code;
};

}  // namespace testsupport
