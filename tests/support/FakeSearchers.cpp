#include "support/FakeSearchers.h"

#include "engine/StorageDevice/IStorageDevice.h"

namespace testsupport {

void CallLog::Add(const std::string& line) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_lines.push_back(line);
}

std::vector<std::string> CallLog::Lines() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_lines;
}

std::vector<std::string> CallLog::Calls(const std::string& call) const {
    std::vector<std::string> out;
    for (const std::string& line : Lines()) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string rest = line.substr(colon + 1);
        if (rest == call || rest.rfind(call + "(", 0) == 0) out.push_back(line);
    }
    return out;
}

void CallLog::Clear() {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_lines.clear();
}

FakePartitions::~FakePartitions() {
    for (CSearchedPartitionInfo* record : m_records) delete record;
}

FakeDeepSearcher::~FakeDeepSearcher() { m_log->Add(m_name + ":delete"); }

void FakeDeepSearcher::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* b) {
    builder = b;
    m_log->Add(m_name + ":SetDirecotryTreeBuilder");
}

void FakeDeepSearcher::SetDevice(IStorageDevice* d) {
    device = d;
    m_log->Add(m_name + ":SetDevice");
}

void FakeDeepSearcher::SetBlockSize(int sectors) {
    blockSize = sectors;
    m_log->Add(m_name + ":SetBlockSize(" + std::to_string(sectors) + ")");
}

int FakeDeepSearcher::PreparetoSearch() {
    m_log->Add(m_name + ":PreparetoSearch");
    return 1;
}

int FakeDeepSearcher::EndSearch(int build) {
    m_log->Add(m_name + ":EndSearch(" + std::to_string(build) + ")");
    if (onEnd) onEnd(builder);
    return 1;
}

int FakeDeepSearcher::AnalyzeBlock(i64 firstSector, i64 sectorCount) {
    m_log->Add(m_name + ":AnalyzeBlock(" + std::to_string(firstSector) + "," + std::to_string(sectorCount) + ")");
    if (onBlock && device) {
        std::vector<u8> bytes(size_t(sectorCount) * device->GetSectorSize());
        if (!device->ReadSector(bytes.data(), firstSector, sectorCount)) bytes.clear();
        onBlock(firstSector, sectorCount, bytes);
    }
    return 1;
}

void FakeDeepSearcher::SetIProgressSink(IProgress* p) {
    progress = p;
    m_log->Add(m_name + ":SetIProgressSink");
}

void FakeDeepSearcher::SetBitmap(TBitmap* b) {
    bitmap = b;
    m_log->Add(m_name + ":SetBitmap");
}

void FakeDeepSearcher::SetFileSectorMap(FileSectorMap* map) {
    sectorMap = map;
    m_log->Add(m_name + ":SetFileSectorMap");
}

bool FakeDeepSearcher::SetActivePartition(bool active) {
    m_log->Add(m_name + ":SetActivePartition(" + std::to_string(active) + ")");
    return active;
}

FakeQuickSearcher::~FakeQuickSearcher() { m_log->Add(m_name + ":delete"); }

void FakeQuickSearcher::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* b) {
    builder = b;
    m_log->Add(m_name + ":SetDirecotryTreeBuilder");
}

u64 FakeQuickSearcher::QuickSearchFiles(IStorageDevice*, IProgress*) {
    m_log->Add(m_name + ":QuickSearchFiles");
    if (onSearch) onSearch(builder);
    return m_code;
}

}  // namespace testsupport
