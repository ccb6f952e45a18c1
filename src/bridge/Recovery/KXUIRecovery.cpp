#include "bridge/Recovery/KXUIRecovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "bridge/Recovery/ScannedDevice.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/Utilities/FileTime.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DataRecovery/DataRecoveryCodes.h"
#include "engine/DataRecovery/IDataRecovery.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "engine/Utility/IFileNode.h"

namespace {

// The searcher types whose objects the table holds; raw-by-tag files (36) are copied by an object of
// the raw searcher (34), asked for a second time.
constexpr u32 kTableTypes[] = {SEARCHER_HFSPLUS, SEARCHER_FAT, SEARCHER_EXFAT, SEARCHER_RAW, SEARCHER_NTFS,
                               SEARCHER_APFS};

KXUIRecovery::RecoveryObject Shared(IDataRecovery* recovery) {
    if (!recovery) return nullptr;
    return KXUIRecovery::RecoveryObject(recovery, [](IDataRecovery* r) { r->Release(); });
}

}  // namespace

KXUIRecovery& KXUIRecovery::instance() {
    static KXUIRecovery recovery;
    return recovery;
}

KXUIRecovery::KXUIRecovery() {
    ResetParam();
}

KXUIRecovery::~KXUIRecovery() = default;

// --- Table ---

void KXUIRecovery::ResetParam() {
    const u32 status = GetStatus();
    // A running or paused recovery reads the table and its totals: they stay as they are.
    if (status == OP_RUNNING || status == OP_PAUSED) return;
    m_currentNode.store(nullptr);
    {
        std::lock_guard<std::mutex> hold(m_tableMutex);
        m_controller = nullptr;
    }
    InitDataRecoveryController();
    m_totalSize.store(0);
    m_recoveredSize.store(0);
    m_totalFiles.store(0);
    SetNeedUIUpdate(0);
    SetProgressInfo(_PROGRESS_INFO{});
}

void KXUIRecovery::InitDataRecoveryController() {
    std::lock_guard<std::mutex> hold(m_tableMutex);
    if (!m_controller) m_controller = KXUIScan::instance().GetRecoveryController();
    if (!m_controller) return;
    m_table.clear();
    m_deepTable = 0;
    // A quick scan copies through the objects of its partition roots: the table (one 4 MiB buffer per
    // object) is made for deep scans only.
    if (m_controller->thisType() == RECOVERY_CONTROLLER_DELETED) return;
    for (u32 type : kTableTypes) {
        if (RecoveryObject object = Shared(m_controller->GetDataRecovery(_tagSearcherType(type)))) m_table[type] = object;
    }
    if (RecoveryObject tagged = Shared(m_controller->GetDataRecovery(SEARCHER_RAW))) m_table[SEARCHER_RAW_TAG] = tagged;
    if (KXUIScan::instance().IsDeepScan()) m_deepTable = 1;
}

void KXUIRecovery::ReleaseDataRecovery() {
    std::map<u32, RecoveryObject> released;
    {
        std::lock_guard<std::mutex> hold(m_tableMutex);
        released.swap(m_table);
        m_controller = nullptr;
        m_deepTable = 0;
    }
    // A running walk keeps the object it copies with until it is done with it.
}

bool KXUIRecovery::CheckWhetherNeedReset() {
    std::lock_guard<std::mutex> hold(m_tableMutex);
    return m_table.empty();
}

KXUIRecovery::RecoveryObject KXUIRecovery::GetDataRecoveryByType(u32 searcherType) {
    std::lock_guard<std::mutex> hold(m_tableMutex);
    const auto found = m_table.find(searcherType);
    return found == m_table.end() ? nullptr : found->second;
}

void KXUIRecovery::EnsureTable() {
    bool refill = false;
    {
        std::lock_guard<std::mutex> hold(m_tableMutex);
        const IRecoveryController* current = KXUIScan::instance().GetRecoveryController();
        refill = !m_controller || m_controller != current ||
                 (KXUIScan::instance().IsDeepScan() && m_deepTable == 0);
        if (refill) {
            m_controller = nullptr;
            m_table.clear();
        }
    }
    if (refill) InitDataRecoveryController();
}

// --- Settings ---

void KXUIRecovery::SetRecoveryPath(const char* path) {
    std::lock_guard<std::mutex> hold(m_pathMutex);
    m_recoveryPath = path ? path : "";
}

std::string KXUIRecovery::GetRecoveryPath() {
    std::lock_guard<std::mutex> hold(m_pathMutex);
    return m_recoveryPath;
}

bool KXUIRecovery::RecoveryPathIsSameDevice(const char* path) {
    if (!path) return false;
    return !ScannedDeviceProblem(KXUIScan::instance().GetResultStorage(), path).empty();
}

// --- The walk ---

KXUIRecovery::RecoveryObject KXUIRecovery::ObjectFor(IFileNode* node) {
    IRecoveryController* controller = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_tableMutex);
        controller = m_controller;
    }
    if (!controller) return nullptr;
    if (controller->thisType() != RECOVERY_CONTROLLER_DELETED)
        return GetDataRecoveryByType(KXCPPPublic::instance().GetNodeSearcheType(node));
    return KXUIScan::instance().GetFileNodeDataRecover(node);
}

void KXUIRecovery::CountFailure(u64 code) {
    m_failedFiles.fetch_add(1);
    u64 none = 0;
    m_firstFailure.compare_exchange_strong(none, code ? code : kCannotMakeDestination);
}

// Whether the file made for node holds as many bytes as the node.
bool KXUIRecovery::HoldsWholeFile(const RecoveryFile& file, IFileNode* node) {
    struct stat st {};
    if (file.folderFd() < 0 || ::fstatat(file.folderFd(), file.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    return st.st_size == std::max<i64>(node->GetFileSize(), 0);
}

KXUIRecovery::Outcome KXUIRecovery::RecoverNode(IFileNode* node, u64& code) {
    RecoveryObject object = ObjectFor(node);
    if (!object) return Outcome::kSkipped;
    if (KXCPPPublic::instance().GetNodeSearcheType(node) == SEARCHER_NONE) return Outcome::kSkipped;
    const std::string destination = GetRecoveryPath();
    auto* concrete = dynamic_cast<CDataRecovery*>(object.get());
    if (concrete) concrete->SetDestinationRoot(destination.c_str());

    IFileReader* reader = object->SetRecoverNode(node);
    if (reader) reader->Release();
    // Without a reader only an empty file could be written: no copy of a file that holds data.
    if (!reader && node->GetFileSize() != 0) {
        code = kNoReader;
        return Outcome::kFailed;
    }
    std::optional<RecoveryFile> file = CreateRecoveryFileByNode(node, destination, m_folders);
    if (!file) {
        code = kCannotMakeDestination;
        return Outcome::kFailed;
    }
    m_currentNode.store(node);
    m_lastPosition.store(0);
    // Written through the new file made here (O_EXCL under its folder's descriptor): no path is
    // resolved again, so nothing found on disk can redirect the copy.
    code = object->RecoverToFile(file->fd(), file->folderFd(), file->name().c_str(), this, 0);
    if (code == recoverycode::kCreatedEmpty) {
        // Without data there is no reader to stamp the file: its found time is set here.
        if (const _FILETIME created = node->GetCreationTime(); created > 0)
            CDataRecovery::ChangeFileCreateTs(file->fd(), std::time_t(bridge_time::ConvertWindowsTimeToUnixTime(created)));
        code = result::kSuccess;
    }
    if (!file->CloseFile() && result::IsSuccess(code)) code = kCannotCloseDestination;
    if (result::IsSuccess(code) && concrete && concrete->GetUnreadableChunkCount() > 0) code = kUnreadableData;
    if (result::IsSuccess(code) && GetStatus() == OP_STOP_REQUESTED && !HoldsWholeFile(*file, node)) {
        // Stopped inside the file: what was written is no copy of it.
        file->Remove();
        return Outcome::kStopped;
    }
    if (result::IsFailure(code)) {
        // A partial file would pass for the found one.
        file->Remove();
        return Outcome::kFailed;
    }
    return Outcome::kCopied;
}

u64 KXUIRecovery::DoRecovery() {
    m_recoveredSize.store(0);
    m_lastPosition.store(0);
    m_copiedFiles.store(0);
    m_failedFiles.store(0);
    m_skippedFiles.store(0);
    m_firstFailure.store(0);
    KXUIScan& scan = KXUIScan::instance();
    scan.SetCurrentScanRecoveryCnt(scan.GetCurrentScanRecoveryCnt() + 1);
    EnsureTable();

    const KXUIScan::TypeMap types = scan.GetTypeMap();
    for (const auto& [category, nodes] : types) {
        if (!Continued()) break;
        for (IFileNode* node : nodes) {
            if (!Continued()) break;
            if (!node || !node->IsNodeShow() || node->GetCheckedStatus() != CHECKED_ALL) continue;
            u64 code = result::kSuccess;
            switch (RecoverNode(node, code)) {
                case Outcome::kCopied: m_copiedFiles.fetch_add(1); break;
                case Outcome::kFailed: CountFailure(code); break;
                case Outcome::kSkipped: m_skippedFiles.fetch_add(1); break;
                case Outcome::kStopped: break;
            }
        }
    }
    m_currentNode.store(nullptr);
    StoreEndRecord();
    SetNeedUIUpdate(1);
    SetStatus(OP_IDLE);
    CatchExeception::Instance()->WriteLog("========Recovery finished!==========\n");
    return m_firstFailure.load();
}

void KXUIRecovery::StoreEndRecord() {
    _PROGRESS_INFO end{};
    end.status = PROGRESS_FINISHED;
    end.total = m_totalSize.load();
    end.current = m_recoveredSize.load();
    end.errorCode = i64(m_firstFailure.load());
    SetProgressInfo(end);
}

int KXUIRecovery::UpdateProgress(_PROGRESS_INFO* record) {
    if (!record) return 1;
    // A file's copy reports its own position: only what it moved forward counts.
    const u64 last = m_lastPosition.exchange(record->current);
    if (record->current > last) m_recoveredSize.fetch_add(record->current - last);
    _PROGRESS_INFO stored{};
    stored.status = record->status;
    stored.total = m_totalSize.load();
    stored.current = m_recoveredSize.load();
    stored.errorCode = record->errorCode;
    SetProgressInfo(stored);
    if ((u64(record->errorCode) & 0xFFFFFFFFu) == kWaitForUser) {
        // The copy waits inside Continued() until the user resumes or stops; a stop already asked
        // for stays a stop.
        std::lock_guard<std::recursive_mutex> hold(Mutex());
        if (GetStatus() == OP_RUNNING) SetStatus(OP_PAUSED);
    }
    SetNeedUIUpdate(1);
    return 0;
}
