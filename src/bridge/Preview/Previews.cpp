#include "bridge/Preview/Previews.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Filter/KXUIFilter.h"
#include "bridge/Preview/IImageDecoder.h"
#include "bridge/Preview/PreviewFolder.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/ResultCode.h"
#include "engine/DataRecovery/DataRecoveryCodes.h"
#include "engine/DataRecovery/IDataRecovery.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IFileNode.h"
#include "platform/disks/KernelDisks.h"

namespace preview {

namespace {

constexpr int kMaxParentSteps = 1024;

// The picture buffer shared by every preview of the picture category, made on first use.
std::mutex g_pictureMutex;
std::unique_ptr<char[]> g_pictureBuffer;
// One movie copy at a time.
std::mutex g_movieMutex;

RecoveryObject Shared(IDataRecovery* recovery) {
    if (!recovery) return nullptr;
    return RecoveryObject(recovery, [](IDataRecovery* r) { r->Release(); });
}

// A reader from SetRecoverNode, released when the holder goes.
struct ReaderHold {
    explicit ReaderHold(IFileReader* r) : reader(r) {}
    ~ReaderHold() {
        if (reader) reader->Release();
    }
    ReaderHold(const ReaderHold&) = delete;
    ReaderHold& operator=(const ReaderHold&) = delete;
    IFileReader* reader;
};

// Reads the node's picture into buffer (size bytes, zeroed first): the small JPEG embedded in its
// start when the object finds one, else its data from offset 0. Decodes up to twice, reading again
// when the first image came out empty.
IconImage DecodeFound(IImageDecoder& decoder, IDataRecovery& object, IFileReader& reader, char* buffer, u32 size) {
    std::memset(buffer, 0, size);
    u32 n = std::min(object.ReadSmallJPG(buffer, size), size);
    if (n == 0) n = std::min(reader.ReadData(0, buffer, size, nullptr), size);
    for (int attempt = 0; attempt < 2 && n > 0; ++attempt) {
        IconImage image = decoder.DecodeBytes(buffer, n);
        if (!image) break;
        if (IsUsableImage(image)) return image;
        if (attempt == 0) n = std::min(reader.ReadData(0, buffer, size, nullptr), size);
    }
    return nullptr;
}

// The picture read through a new object into the shared buffer; null when that gives none.
IconImage PictureFromEngine(IFileNode* node) {
    IImageDecoder* decoder = GetImageDecoder();
    const i64 size = node->GetFileSize();
    if (!decoder || size <= 0 || size > kPictureLimit) return nullptr;
    RecoveryObject object = NewRecoveryObject(node);
    if (!object) return nullptr;
    ReaderHold hold(object->SetRecoverNode(node));
    if (!hold.reader) return nullptr;
    std::lock_guard<std::mutex> picture(g_pictureMutex);
    if (!g_pictureBuffer) g_pictureBuffer.reset(new (std::nothrow) char[size_t(kPictureLimit)]);
    if (!g_pictureBuffer) return nullptr;
    return DecodeFound(*decoder, *object, *hold.reader, g_pictureBuffer.get(), u32(size));
}

// The node copied into a private temporary file (limit bytes, 0 for all) and handed to the decoder;
// the file is gone when this returns. Null when no copy could be made or decoded.
IconImage ThumbnailOfCopy(IFileNode* node, i64 limit) {
    if (!GetImageDecoder() || limit < 0 || limit > INT_MAX) return nullptr;
    RecoveryObject object = NewRecoveryObject(node);
    if (!object) return nullptr;
    {
        ReaderHold hold(object->SetRecoverNode(node));
        if (!hold.reader) return nullptr;
    }
    const char* name = node->GetFileName();
    std::unique_ptr<PreviewTempFile> file = PreviewFolder::instance().Create(name ? name : "");
    if (!file) return nullptr;
    u64 code = object->RecoverToFile(file->fd(), -1, file->path().c_str(), nullptr, int(limit));
    if (code == recoverycode::kCreatedEmpty) code = result::kSuccess;
    if (!file->Close() && result::IsSuccess(code)) code = recoverycode::kCannotFinishDestination;
    if (result::IsFailure(code)) {
        CatchExeception::Instance()->WriteLog("----Recovery Failed----\n");
        return nullptr;
    }
    return ThumbnailOfFile(file->path());
}

// A raw camera or Photoshop file through a whole copy; null when no usable image comes of it.
IconImage RawPictureImage(IFileNode* node) {
    const i64 size = node->GetFileSize();
    if (size <= 0 || size > kPictureLimit) return nullptr;
    IconImage image = ThumbnailOfCopy(node, 0);
    return IsUsableImage(image) ? image : nullptr;
}

// The bytes of a regular file of the given size below limit, read without following a link at its
// name; nothing when it cannot be read whole or its size is another (not the file that was found).
std::optional<std::vector<char>> ReadLiveFile(const std::string& path, i64 size, i64 limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::vector<char>> bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size == size && st.st_size < limit) {
        std::vector<char> data;
        try {
            data.resize(size_t(st.st_size));
        } catch (const std::bad_alloc&) {
            ::close(fd);
            return std::nullopt;
        }
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        if (done == data.size()) bytes = std::move(data);
    }
    ::close(fd);
    return bytes;
}

// The volume among the scan's devices whose name is volumeName (the scanned volume itself, or the
// one volume of that name on a scanned disk); null when none or several are.
IStorageDevice* VolumeOfRoot(const char* volumeName) {
    KXUIDeviceData& model = KXUIDeviceData::instance();
    IStorageDevice* storage = KXUIScan::instance().GetResultStorage();
    if (!storage) return nullptr;
    if (!model.IsDiskStorage(storage)) return storage;
    if (!volumeName) return nullptr;
    std::vector<IStorageDevice*> volumes;
    model.GetDiskVolumeStorage(storage, volumes);
    IStorageDevice* found = nullptr;
    for (IStorageDevice* volume : volumes) {
        const CCollectedVolumeDeviceInfoStruct* info = model.GetVolumeInfo(volume);
        if (!info || std::strncmp(info->volumeName, volumeName, sizeof info->volumeName) != 0) continue;
        if (found) return nullptr;
        found = volume;
    }
    return found;
}

bool IsSafeComponent(const char* name) {
    if (!name || !*name || std::strchr(name, '/')) return false;
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace

IconImage IconForNode(IFileNode* node) {
    IIconProvider* icons = GetIconProvider();
    if (!icons) return nullptr;
    return icons->IconForFileType(NodeExtension(node).value_or(""));
}

std::optional<std::string> NodeExtension(IFileNode* node) {
    const char* name = node ? node->GetFileName() : nullptr;
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    if (!dot) return std::nullopt;
    std::string extension(dot + 1);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

RecoveryObject NewRecoveryObject(IFileNode* node) {
    if (!node) return nullptr;
    KXUIScan& scan = KXUIScan::instance();
    IRecoveryController* controller = scan.GetRecoveryController();
    if (!controller) return nullptr;
    if (controller->thisType() != RECOVERY_CONTROLLER_DELETED) {
        u32 type = KXCPPPublic::instance().GetNodeSearcheType(node);
        // Files found by their tags are read as the raw searcher's.
        if (type == SEARCHER_RAW_TAG) type = SEARCHER_RAW;
        if (type == SEARCHER_NONE) return nullptr;
        return Shared(controller->GetDataRecovery(_tagSearcherType(type)));
    }
    // A quick scan's object knows its volume's partition records, which the controller forgets once
    // it moves to the next volume: a duplicate reads with those records and nothing of the original.
    RecoveryObject shared = scan.GetFileNodeDataRecover(node);
    return shared ? Shared(shared->Duplicate()) : nullptr;
}

std::optional<i64> MovieCopyLimit(const std::string& dotExtension, i64 size) {
    size = std::max<i64>(size, 0);
    if (dotExtension == ".avi") return size <= kAviWholeLimit ? size : kMovieHead;
    if (dotExtension == ".mov" || dotExtension == ".m4v" || dotExtension == ".mp4")
        return size < kMovieHead ? size : kMovieHead;
    return std::nullopt;
}

std::optional<std::string> LiveFilePath(IFileNode* node) {
    if (!node || node->IsDeleted()) return std::nullopt;
    const u32 type = KXCPPPublic::instance().GetNodeSearcheType(node);
    if (type == SEARCHER_RAW || type == SEARCHER_RAW_TAG || type == SEARCHER_NONE) return std::nullopt;

    std::string relative;
    IFileNode* current = node;
    for (int step = 0;; ++step) {
        if (step > kMaxParentSteps) return std::nullopt;
        IFileNode* parent = current->GetParent();
        if (!parent) break;
        const char* name = current->GetFileName();
        if (!IsSafeComponent(name)) return std::nullopt;
        relative = "/" + std::string(name) + relative;
        current = parent;
    }
    if (relative.empty()) return std::nullopt;

    IStorageDevice* volume = VolumeOfRoot(current->GetVolumeName());
    const CCollectedVolumeDeviceInfoStruct* info = volume ? KXUIDeviceData::instance().GetVolumeInfo(volume) : nullptr;
    if (!info) return std::nullopt;
    const dev_t number = dev_t(u32(info->deviceNumber));
    std::string mount =
        brelvox::disks::KernelDisks(KXUIDeviceData::instance().GetConfig().roots).MountPoint(major(number), minor(number));
    if (mount.empty() || mount.front() != '/') return std::nullopt;
    while (mount.size() > 1 && mount.back() == '/') mount.pop_back();
    return (mount == "/" ? "" : mount) + relative;
}

}  // namespace preview

using namespace preview;

IconImage ThumbnailOfFile(const std::string& path) {
    IImageDecoder* decoder = GetImageDecoder();
    return decoder && !path.empty() ? decoder->DecodeFile(path) : nullptr;
}

IconImage GetRawPicThumb(IFileNode* node) {
    if (!node) return nullptr;
    IconImage image = RawPictureImage(node);
    return image ? image : IconForNode(node);
}

IconImage GetVideoThumb(IFileNode* node) {
    if (!node) return nullptr;
    std::lock_guard<std::mutex> movie(g_movieMutex);
    const std::optional<std::string> extension = NodeExtension(node);
    const std::optional<i64> limit = extension ? MovieCopyLimit("." + *extension, node->GetFileSize()) : std::nullopt;
    if (!limit) return IconForNode(node);
    // A limit that covers the whole file asks for all of it (a compressed file is copied only so).
    const bool whole = *limit >= node->GetFileSize();
    IconImage image = ThumbnailOfCopy(node, whole ? 0 : *limit);
    return IsUsableImage(image) ? image : IconForNode(node);
}

IconImage GetPictureThumb(IFileNode* node) {
    if (!node) return nullptr;
    IImageDecoder* decoder = GetImageDecoder();
    if (!decoder) return IconForNode(node);
    if (const std::optional<std::string> live = LiveFilePath(node)) {
        // A live file that cannot be read, or whose size is not the found one (moved, changed since the
        // scan, another volume of the same name), is read through the engine.
        if (std::optional<std::vector<char>> bytes = ReadLiveFile(*live, node->GetFileSize(), kPictureThumbLimit)) {
            IconImage image = decoder->DecodeBytes(bytes->data(), bytes->size());
            return IsUsableImage(image) ? image : IconForNode(node);
        }
    }
    const i64 size = node->GetFileSize();
    IconImage image;
    if (size > 0 && size < kPictureThumbLimit) {
        if (RecoveryObject object = NewRecoveryObject(node)) {
            ReaderHold hold(object->SetRecoverNode(node));
            const size_t rounded = (size_t(size) + 511) / 512 * 512;
            std::unique_ptr<char[]> buffer(hold.reader ? new (std::nothrow) char[rounded] : nullptr);
            if (buffer) image = DecodeFound(*decoder, *object, *hold.reader, buffer.get(), u32(size));
        }
    }
    return IsUsableImage(image) ? image : IconForNode(node);
}

IconImage PreviewImageOfNode(IFileNode* node) {
    if (!node) return nullptr;
    IRecoveryFilter* filter = KXUIFilter::instance().GetFilter();
    if (!filter) return nullptr;
    const u32 category = filter->GetNodeFileType(node);
    if (category == FILTER_MOVIE) return GetVideoThumb(node);
    const std::optional<std::string> extension = NodeExtension(node);
    if (!extension) return IconForNode(node);
    const std::string& ext = *extension;
    if (ext == "rw2" || ext == "sr2" || ext == "cr2" || ext == "dng" || ext == "dcr") return GetRawPicThumb(node);
    if (ext == "arw" || ext == "psd") {
        // One the decoder cannot read goes on to the ordinary decoding of its bytes.
        if (IconImage image = RawPictureImage(node)) return image;
    }
    if (category == FILTER_PICTURE) {
        if (IconImage image = PictureFromEngine(node)) return image;
    }
    return IconForNode(node);
}
