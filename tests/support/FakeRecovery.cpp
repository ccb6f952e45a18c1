#include "support/FakeRecovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "bridge/Operation/KXUIOperation.h"
#include "engine/Common/IDrirectoryTree.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/RestoreScanSink.h"
#include "engine/DataRecovery/DataRecoveryCodes.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/Utility/IFileNode.h"

namespace testsupport {

namespace {

class PatternReader : public IFileReader {
public:
    explicit PatternReader(std::string bytes) : m_bytes(std::move(bytes)) {}
    u32 ReadData(i64 offset, char* buffer, u32 length, int*) override {
        if (offset < 0 || size_t(offset) >= m_bytes.size()) return 0;
        const size_t n = std::min<size_t>(length, m_bytes.size() - size_t(offset));
        std::copy_n(m_bytes.data() + offset, n, buffer);
        return u32(n);
    }
    IFileReader* Clone() override { return new PatternReader(m_bytes); }
    i64 GetDataSize() const override { return i64(m_bytes.size()); }
    u32 IsCompressFile() override { return 0; }
    void Release() override { delete this; }

private:
    std::string m_bytes;
};

bool WriteAll(int fd, const char* data, size_t length) {
    while (length) {
        const ssize_t n = ::write(fd, data, length);
        if (n <= 0) return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

}  // namespace

std::string FakeDataRecovery::Bytes(IFileNode* node) {
    const char* name = node ? node->GetFileName() : nullptr;
    const std::string seed = name ? name : "";
    const i64 size = node ? std::max<i64>(node->GetFileSize(), 0) : 0;
    std::string bytes(size_t(size), '\0');
    u32 h = 2166136261u;
    for (char c : seed) h = (h ^ u8(c)) * 16777619u;
    for (size_t i = 0; i < bytes.size(); ++i) {
        h = h * 1103515245u + 12345u;
        bytes[i] = char(h >> 16);
    }
    return bytes;
}

IFileReader* FakeDataRecovery::SetRecoverNode(IFileNode* node) {
    m_node = node;
    return node ? new PatternReader(Bytes(node)) : nullptr;
}

u64 FakeDataRecovery::RecoverTo(const char* path, IProgress* sink, int /*size*/) {
    if (!path || !m_node) return recoverycode::kNullPath;
    const int fd = ::open(path, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return recoverycode::kCannotOpenDestination;
    const u64 code = CopyInto(fd, sink);
    ::close(fd);
    return code;
}

u64 FakeDataRecovery::RecoverToFile(int fd, int /*folderFd*/, const char* /*name*/, IProgress* sink, int /*size*/) {
    if (fd < 0 || !m_node) return recoverycode::kNullPath;
    return CopyInto(fd, sink);
}

u64 FakeDataRecovery::CopyInto(int fd, IProgress* sink) {
    m_script->copies.fetch_add(1);
    const std::string bytes = Bytes(m_node);
    const std::string name = m_node->GetFileName() ? m_node->GetFileName() : "";
    const bool fails = m_script->failNames.count(name) != 0;
    const bool waits = m_script->waitName == name;
    _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_RUNNING, bytes.size(), 0);
    size_t done = 0;
    bool waited = false;
    while (done < bytes.size()) {
        if (sink && !sink->Continued()) break;
        if (fails && done >= bytes.size() / 2) return kFakeReadFailed;
        if (waits && !waited && done >= bytes.size() / 2) {
            waited = true;
            _PROGRESS_INFO wait = record;
            wait.errorCode = i64(recoverycode::kWriteWait);
            if (sink) sink->UpdateProgress(&wait);
            continue;  // Continued() now waits for the user
        }
        // A failing file is written up to its half, then fails.
        const size_t end = fails || (waits && !waited) ? bytes.size() / 2 : bytes.size();
        const size_t n = std::min(m_script->step, std::max(end, done + 1) - done);
        if (!WriteAll(fd, bytes.data() + done, n)) return recoverycode::kCannotOpenDestination;
        done += n;
        record.current = done;
        if (sink) sink->UpdateProgress(&record);
    }
    return 0;
}

FakeRecoveryController::FakeRecoveryController(Config config, CallLog* log) : m_config(std::move(config)), m_log(log) {}

int FakeRecoveryController::Initialize(IRecoveryFilter* filter) {
    if (m_log) m_log->Add("controller:Initialize");
    return filter ? 1 : 0;
}

u64 FakeRecoveryController::StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) {
    if (m_log) m_log->Add("controller:StartDataRecovery");
    if (m_config.onStart) m_config.onStart(progress);
    if (m_sink) return m_sink->SetDirecotryTreeBuilder(nullptr, progress, device);
    std::vector<IFileNode*> nodes;
    if (m_config.tree) {
        for (FakeFileNode* file : m_config.tree->Files()) {
            // Folders on the way first, as a builder publishes a parent before its children.
            std::vector<IFileNode*> chain;
            for (IFileNode* up = file->GetParent(); up && up->GetParent(); up = up->GetParent()) chain.push_back(up);
            for (auto it = chain.rbegin(); it != chain.rend(); ++it)
                if (std::find(nodes.begin(), nodes.end(), *it) == nodes.end()) nodes.push_back(*it);
            nodes.push_back(file);
        }
    }
    const int blocks = std::max(m_config.blocks, 1);
    const size_t perBlock = (nodes.size() + size_t(blocks) - 1) / size_t(blocks);
    size_t published = 0;
    for (int block = 0; block < blocks; ++block) {
        if (!progress->Continued()) break;
        _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_RUNNING, u64(blocks), u64(block));
        progress->UpdateProgress(&record);
        if (m_config.blockMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_config.blockMs));
        if (published == 0 && m_config.tree) tree->ShowFilesystemNode(m_config.tree->root());
        const size_t count = std::min(perBlock, nodes.size() - published);
        if (count) tree->ShowNodes(nodes.data() + published, u32(count), 0);
        published += count;
    }
    if (m_log) m_log->Add("controller:shouldBuild=" + std::to_string(progress->shouldBuild()));
    _PROGRESS_INFO finished = MakeProgressInfo(PROGRESS_FINISHED, u64(blocks), u64(blocks));
    progress->UpdateProgress(&finished);
    if (auto* operation = dynamic_cast<KXUIOperation*>(progress); operation && m_log)
        m_log->Add("controller:status after finish=" + std::to_string(operation->GetStatus()));
    return m_config.code;
}

IDataRecovery* FakeRecoveryController::GetDataRecovery(_tagSearcherType type) {
    if (!m_config.recoveryTypes.empty() && !m_config.recoveryTypes.count(type)) return nullptr;
    if (m_config.makeRecovery) return m_config.makeRecovery(type);
    return new FakeDataRecovery(m_config.copy);
}

void FakeRecoveryController::Release() {
    if (m_log) m_log->Add("controller:Release");
    delete this;
}

std::function<IRecoveryController*(_RECOVERY_CONTROLLER_TYPE)> FakeControllerFactory(FakeRecoveryController::Config config,
                                                                                    CallLog* log) {
    return [config, log](_RECOVERY_CONTROLLER_TYPE type) -> IRecoveryController* {
        if (log) log->Add("factory:type=" + std::to_string(int(type)));
        if (type > RECOVERY_CONTROLLER_PARTITION) return nullptr;
        FakeRecoveryController::Config made = config;
        made.type = type;
        return new FakeRecoveryController(made, log);
    };
}

}  // namespace testsupport
