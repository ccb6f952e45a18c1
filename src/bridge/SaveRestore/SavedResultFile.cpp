#include "bridge/SaveRestore/SavedResultFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "engine/Common/CatchExeception.h"
#include "engine/FileArchive/RSData.h"

namespace saved_result {

namespace {

// A name next to the destination that no other save of this process uses.
std::string TemporaryPathFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".saving-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

bool SyncPath(const std::string& path, bool directory) {
    const int fd = ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || (directory && errno == EINVAL);
    ::close(fd);
    return ok;
}

u32 Failed(const std::string& temporary, const char* reason) {
    CatchExeception::Instance()->WriteLog("saving the scan result failed: %s\n", reason);
    if (!temporary.empty()) ::unlink(temporary.c_str());
    return kCodeSaveFailed;
}

}  // namespace

u32 SaveScanResultFile(const std::string& path, const SavedScanKind& kind, const SavedDevice& device,
                       const std::vector<SavedRoot>& roots, const std::function<bool()>& continued,
                       const std::function<void()>& step) {
    if (path.empty()) return Failed("", "no file name");
    const std::string temporary = TemporaryPathFor(path);
    {
        CRSData archive(RS_MODE_WRITE);
        if (!archive.StartRS(temporary.c_str(), 1)) return Failed("", "the file cannot be created");
        try {
            FILEHEADER header;
            header.status = 1;
            if (!archive.WriteFileHeader(header)) throw CRSException(RS_ERROR_WRITE);
            WriteScanKind(archive, kind);
            WriteDevice(archive, device);
            if (!WriteNodeTrees(archive, roots, continued, step)) {
                archive.EndRS();
                return Failed(temporary, "stopped before the end");
            }
        } catch (const CRSException& e) {
            archive.EndRS();
            const std::string reason = "archive error " + std::to_string(e.GetErrorcode());
            return Failed(temporary, reason.c_str());
        } catch (const std::bad_alloc&) {
            archive.EndRS();
            return Failed(temporary, "out of memory");
        }
        if (!archive.EndRS()) return Failed(temporary, "closing the file failed");
    }
    if (!SyncPath(temporary, false)) return Failed(temporary, "flushing the file failed");
    if (::rename(temporary.c_str(), path.c_str()) != 0) return Failed(temporary, "renaming the file failed");
    const std::string folder = std::filesystem::path(path).parent_path().string();
    SyncPath(folder.empty() ? "." : folder, true);
    return 0;
}

}  // namespace saved_result
