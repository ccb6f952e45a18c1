// Fakes for the preview suites: data-recovery objects that count every byte asked of them and tell
// the objects a scan made (the ones a recovery copies with) from the duplicates a preview makes, and
// a decoder that reads a tiny picture format ("FAKEIMG <width> <height>") and records every file it
// was handed with the modes of the file and of its folder.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/Preview/IImageDecoder.h"
#include "engine/DataRecovery/IDataRecovery.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/Utility/IFileNode.h"
#include "support/FakeIconProvider.h"

namespace previewtest {

// Set on the threads that ask for previews.
inline thread_local bool t_previewThread = false;

// A picture the fake decoder reads, w x h pixels.
inline std::string Picture(int width, int height, size_t padTo = 0) {
    std::string bytes = "FAKEIMG " + std::to_string(width) + " " + std::to_string(height) + "\n";
    if (bytes.size() < padTo) bytes.resize(padTo, '#');
    return bytes;
}

// RecoverToFile's failure when the ledger says copies fail.
inline constexpr u64 kCopyFailed = 0x010D0F0000000007ULL;

// What every object of one fake controller did.
struct Ledger {
    // Bytes of files by name; other files hold a pattern of their size.
    std::map<std::string, std::string> contents;
    // What ReadSmallJPG finds in a file's first 64 KiB, by name.
    std::map<std::string, std::string> smallJpeg;
    std::atomic<bool> failCopies{false};
    // While set, a copy through an object of the scan (a recovery's) waits (20 s at most).
    std::atomic<bool> holdScanCopies{false};
    // Objects made from now on are a preview's, not the scan's or the recovery's.
    std::atomic<bool> previewsStarted{false};

    std::atomic<int> scanObjects{0};
    std::atomic<int> duplicates{0};
    // Calls other than Duplicate on the objects the scan made.
    std::atomic<int> callsOnScanObjects{0};
    // Those made on a thread that asks for previews.
    std::atomic<int> previewCallsOnScanObjects{0};
    std::atomic<int> setRecoverNode{0};
    std::atomic<int> smallJpegCalls{0};
    // Bytes placed by ReadData and by ReadSmallJPG's look at the start (64 KiB each).
    std::atomic<u64> bytesRead{0};
    std::atomic<u64> bytesCopied{0};
    std::mutex mutex;
    // The size argument of each copy.
    std::vector<int> copyLimits;

    // Zeroes the counters of previews (the objects the scan made stay counted).
    void Reset() {
        duplicates = 0;
        callsOnScanObjects = 0;
        previewCallsOnScanObjects = 0;
        setRecoverNode = 0;
        smallJpegCalls = 0;
        bytesRead = 0;
        bytesCopied = 0;
        std::lock_guard<std::mutex> hold(mutex);
        copyLimits.clear();
    }
    std::vector<int> Limits() {
        std::lock_guard<std::mutex> hold(mutex);
        return copyLimits;
    }
};

class CountingReader : public IFileReader {
public:
    CountingReader(Ledger& ledger, std::string name, i64 size) : m_ledger(ledger), m_name(std::move(name)), m_size(size) {
        const auto found = ledger.contents.find(m_name);
        m_contents = found == ledger.contents.end() ? nullptr : &found->second;
    }
    u32 ReadData(i64 offset, char* buffer, u32 length, int*) override {
        if (offset < 0 || offset >= m_size) return 0;
        const u32 n = u32(std::min<i64>(length, m_size - offset));
        if (m_contents) {
            for (u32 i = 0; i < n; ++i)
                buffer[i] = offset + i < i64(m_contents->size()) ? (*m_contents)[size_t(offset + i)] : 0;
        } else {
            for (u32 i = 0; i < n; ++i) buffer[i] = char(((offset + i) * 31 + m_size) & 0xFF);
        }
        m_ledger.bytesRead += n;
        return n;
    }
    IFileReader* Clone() override { return new CountingReader(m_ledger, m_name, m_size); }
    i64 GetDataSize() const override { return m_size; }
    u32 IsCompressFile() override { return 0; }
    void Release() override { delete this; }

private:
    Ledger& m_ledger;
    std::string m_name;
    i64 m_size;
    const std::string* m_contents = nullptr;
};

class CountingDataRecovery : public IDataRecovery {
public:
    CountingDataRecovery(Ledger& ledger, bool ofScan) : m_ledger(ledger), m_ofScan(ofScan) {
        if (ofScan) ++m_ledger.scanObjects;
    }
    u64 Initialize(IFileSystemSearchController*, IStorageDevice*) override { return 0; }
    IFileReader* SetRecoverNode(IFileNode* node) override {
        Touch();
        ++m_ledger.setRecoverNode;
        m_node = node;
        if (!node || !node->GetFileName()) return nullptr;
        return new CountingReader(m_ledger, node->GetFileName(), std::max<i64>(node->GetFileSize(), 0));
    }
    u64 RecoverTo(const char*, IProgress*, int) override {
        Touch();
        return kCopyFailed;
    }
    u64 RecoverToFile(int fd, int, const char*, IProgress*, int size) override {
        Touch();
        {
            std::lock_guard<std::mutex> hold(m_ledger.mutex);
            m_ledger.copyLimits.push_back(size);
        }
        if (!m_node) return kCopyFailed;
        for (int waited = 0; m_ofScan && m_ledger.holdScanCopies && waited < 2000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const i64 fileSize = std::max<i64>(m_node->GetFileSize(), 0);
        const i64 total = size > 0 ? std::min<i64>(size, fileSize) : fileSize;
        const i64 written = m_ledger.failCopies ? total / 2 : total;
        // The copy's bytes are not counted as read: they are counted as copied.
        Ledger scratch;
        scratch.contents = m_ledger.contents;
        CountingReader reader(scratch, m_node->GetFileName(), fileSize);
        std::vector<char> chunk(1 << 20);
        for (i64 done = 0; done < written;) {
            const u32 n = u32(std::min<i64>(i64(chunk.size()), written - done));
            if (reader.ReadData(done, chunk.data(), n, nullptr) != n) return kCopyFailed;
            if (::write(fd, chunk.data(), n) != ssize_t(n)) return kCopyFailed;
            done += n;
        }
        m_ledger.bytesCopied += u64(written);
        return m_ledger.failCopies ? kCopyFailed : 0;
    }
    u32 ReadSmallJPG(char* out, u32 outSize) override {
        Touch();
        ++m_ledger.smallJpegCalls;
        if (!m_node || !out || outSize < 65536 || m_node->GetFileSize() < 65536) return 0;
        m_ledger.bytesRead += 65536;
        const auto found = m_ledger.smallJpeg.find(m_node->GetFileName());
        if (found == m_ledger.smallJpeg.end()) return 0;
        std::memcpy(out, found->second.data(), found->second.size());
        return u32(found->second.size());
    }
    void Release() override { delete this; }
    IDataRecovery* Duplicate() override {
        ++m_ledger.duplicates;
        return new CountingDataRecovery(m_ledger, false);
    }

private:
    void Touch() {
        if (m_ofScan) ++m_ledger.callsOnScanObjects;
        if (m_ofScan && t_previewThread) ++m_ledger.previewCallsOnScanObjects;
    }
    Ledger& m_ledger;
    bool m_ofScan;
    IFileNode* m_node = nullptr;
};

// A decoded picture: w x h scaled to fit 192 x 192, and where it came from.
class DecodedImage : public testsupport::FakeIcon {
public:
    using FakeIcon::FakeIcon;
};

class FakeDecoder : public IImageDecoder {
public:
    struct FileSeen {
        std::string path;
        mode_t fileMode = 0;
        mode_t folderMode = 0;
        i64 size = 0;
    };

    IconImage DecodeBytes(const char* data, size_t size) override {
        ++bytesCalls;
        return Decode(std::string(data, std::min<size_t>(size, 64)), "bytes");
    }
    IconImage DecodeFile(const std::string& path) override {
        FileSeen seen;
        seen.path = path;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            seen.fileMode = st.st_mode & 07777;
            seen.size = st.st_size;
        }
        const std::string folder = path.substr(0, path.find_last_of('/'));
        if (::stat(folder.c_str(), &st) == 0) seen.folderMode = st.st_mode & 07777;
        std::string head(64, '\0');
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            const ssize_t n = ::read(fd, head.data(), head.size());
            head.resize(n > 0 ? size_t(n) : 0);
            ::close(fd);
        }
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_files.push_back(seen);
        }
        return Decode(head, "file");
    }
    std::vector<FileSeen> Files() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_files;
    }
    std::atomic<int> bytesCalls{0};

private:
    static IconImage Decode(const std::string& head, const std::string& how) {
        if (head.rfind("FAKEIMG ", 0) != 0) return nullptr;
        std::istringstream in(head.substr(8));
        int width = 0, height = 0;
        in >> width >> height;
        // Scaled down to fit the thumbnail square, as the windows' decoder does.
        const int side = IImageDecoder::kThumbnailSide;
        if (width > side || height > side) {
            const double scale = std::min(double(side) / width, double(side) / height);
            width = std::max(1, int(width * scale));
            height = std::max(1, int(height * scale));
        }
        return std::make_shared<DecodedImage>(how, width, height);
    }
    std::mutex m_mutex;
    std::vector<FileSeen> m_files;
};

inline std::string SourceOf(const IconImage& image) {
    const auto* icon = dynamic_cast<const testsupport::FakeIcon*>(image.get());
    return icon ? icon->source : "";
}

}  // namespace previewtest
