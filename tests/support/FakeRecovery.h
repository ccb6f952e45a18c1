// Fakes of the engine's scan and copy for the operations layer: a recovery controller that runs N
// blocks (one progress record each, a pause of d ms, a batch of a fake tree's nodes published), stops
// when Continued() says so and ends with a finished record; and data-recovery objects that write
// deterministic bytes, fail on chosen files, and ask for the user (code 0xD03) on a chosen file.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/DataRecovery/IDataRecovery.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "support/FakeFileTree.h"
#include "support/FakeSearchers.h"

namespace testsupport {

// What the data-recovery objects of one fake controller do; shared by all of them.
struct FakeCopyScript {
    // RecoverTo writes half of these files, then fails with kFakeReadFailed.
    std::set<std::string> failNames;
    // Halfway through this file, a record with the code 0xD03 is sent before the copy goes on.
    std::string waitName;
    // Bytes per step of a copy (one progress record each).
    size_t step = 4096;
    std::atomic<int> copies{0};
};

// RecoverTo's failure for a file of failNames.
inline constexpr u64 kFakeReadFailed = 0x010D0F0000000006ULL;

class FakeDataRecovery : public IDataRecovery {
public:
    explicit FakeDataRecovery(std::shared_ptr<FakeCopyScript> script) : m_script(std::move(script)) {}

    // The bytes every copy of node holds: a pattern of its name and size.
    static std::string Bytes(IFileNode* node);

    u64 Initialize(IFileSystemSearchController*, IStorageDevice*) override { return 0; }
    IFileReader* SetRecoverNode(IFileNode* node) override;
    u64 RecoverTo(const char* path, IProgress* sink, int size) override;
    u64 RecoverToFile(int fd, int folderFd, const char* name, IProgress* sink, int size) override;
    u32 ReadSmallJPG(char*, u32) override { return 0; }
    void Release() override { delete this; }

private:
    u64 CopyInto(int fd, IProgress* sink);

    std::shared_ptr<FakeCopyScript> m_script;
    IFileNode* m_node = nullptr;
};

class FakeRecoveryController : public IRecoveryController {
public:
    struct Config {
        _RECOVERY_CONTROLLER_TYPE type = RECOVERY_CONTROLLER_DELETED;
        int blocks = 10;
        int blockMs = 0;
        // Published in as many batches as there are blocks (its root first); null: nothing found.
        std::shared_ptr<FakeFileTree> tree{};
        u64 code = 0;
        // The searcher types GetDataRecovery answers for (every type when empty).
        std::set<u32> recoveryTypes{};
        std::shared_ptr<FakeCopyScript> copy = std::make_shared<FakeCopyScript>();
        // Runs first in each StartDataRecovery, on the scan's worker.
        std::function<void(IProgress*)> onStart{};
        // When set, GetDataRecovery answers what this makes (after the type check).
        std::function<IDataRecovery*(_tagSearcherType)> makeRecovery{};
    };

    FakeRecoveryController(Config config, CallLog* log);

    _RECOVERY_CONTROLLER_TYPE thisType() override { return m_config.type; }
    int Initialize(IRecoveryFilter* filter) override;
    u64 StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) override;
    void Release() override;
    void SetRestoreSink(RestoreScanSink* sink) override { m_sink = sink; }

private:
    Config m_config;
    CallLog* m_log;
    RestoreScanSink* m_sink = nullptr;
};

// A controller factory for KXUIScan making fake controllers of one configuration (type from the
// scan's request), with their calls in log.
std::function<IRecoveryController*(_RECOVERY_CONTROLLER_TYPE)> FakeControllerFactory(FakeRecoveryController::Config config,
                                                                                    CallLog* log);

}  // namespace testsupport
