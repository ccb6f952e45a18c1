// One run of the driver: opens the source, scans it, keeps what the engine published, lists it and
// copies it out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/Common/HugePages.h"
#include "engine/Common/IDrirectoryTree.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/SearcherTypes.h"
#include "ListOrder.h"

class CFileNode;
class IDataRecovery;
class IFileNode;
class IRecoveryController;
class IRecoveryFilter;
class IStorageDevice;

namespace scan {

struct Options {
    bool quick = false;
    u32 types = 127;
    std::string listPath;
    std::string recoverDir;
    // --partitions: the partition records of the deep scan's file-system searchers ("-": standard output).
    std::string partitionsPath;
    std::string source;
    bool showProgress = false;
    // Where "--list -" writes (the engine writes nothing to standard output).
    int standardOutputFd = 1;
};

// What --recover did: files copied (those with unreadable ranges included, their ranges written as
// zeros), files that could not be copied (nothing left behind), and copies with unreadable ranges.
struct RecoverCounts {
    int copied = 0;
    int failed = 0;
    int unreadable = 0;
    bool interrupted = false;  // stopped (SIGINT) before every file was tried
};

// Called on SIGINT: the scan stops at its next step, a copy-out before its next file.
void RequestStop(int);
// Whether a stop was requested.
bool StopRequested();

class ScanSession : public IProgress, public IDrirectoryTree {
public:
    explicit ScanSession(Options options);
    ~ScanSession() override;

    // False with a one-line reason when the source cannot be read or the scan fails.
    bool Run(std::string& reason);
    bool WriteList(std::string& reason);
    bool Recover(RecoverCounts& counts, std::string& reason);
    // The scan's controller (after Run), for the partition records of its searchers.
    IRecoveryController* Controller() const { return m_controller; }

    int UpdateProgress(_PROGRESS_INFO* record) override;
    int Continued() override;
    int shouldBuild() override { return 1; }
    void ShowNodes(IFileNode** nodes, u32 count, int lost) override;
    void ShowFilesystemNode(IFilesystemNode* root) override;

private:
    // A folder of the destination, open, and the names that lead to it from the destination root.
    struct OpenFolder {
        int fd = -1;
        std::vector<std::string> names;
    };
    // The nodes published so far, each once: a bitmap of addresses (no allocation per node; one node
    // is published many times while the builder works).
    class NodeSet {
    public:
        // True when node was not in the set yet.
        bool Insert(IFileNode* node) {
            // An IFileNode begins with its table pointer, so two nodes lie at least 8 bytes apart: one
            // bit per 8-byte cell of the address space, in pages made when first needed. Nodes made one
            // after another mostly share a page, whose bitmap is kept at hand.
            const uintptr_t cell = reinterpret_cast<uintptr_t>(node) >> 3;
            const uintptr_t page = cell >> kPageBits;
            u64* bits = m_last && page == m_lastPage ? m_last : PageOf(page);
            const size_t at = cell & ((uintptr_t(1) << kPageBits) - 1);
            const u64 bit = u64(1) << (at % 64);
            if (bits[at / 64] & bit) return false;
            bits[at / 64] |= bit;
            return true;
        }

    private:
        u64* PageOf(uintptr_t page);
        // A page's bitmap covers 2^kPageBits cells of 8 bytes (256 KiB of addresses in 4 KiB).
        static constexpr unsigned kPageBits = 15;
        static constexpr size_t kPageWords = (size_t(1) << kPageBits) / 64;
        std::unordered_map<uintptr_t, std::unique_ptr<u64[]>> m_pages;
        uintptr_t m_lastPage = 0;
        u64* m_last = nullptr;
    };
    // The folders of the found paths as a tree of names (one safe component per name, however deep:
    // the same under --list and --recover): each folder is its parent folder and its name, so memory
    // grows with the number of folders, never with their depth.
    struct Folders {
        std::vector<u32> parent;  // kNoFolder at the top; a parent always comes before its folders
        std::vector<u32> depth;
        std::vector<std::string_view> name;
        std::unordered_map<std::string, u32> byParentAndName;
    };
    // A folder's path, joined by a separator, and its names, kept from one folder to the next: moving
    // to another folder changes only the names below the folder both share.
    class PathStack {
    public:
        explicit PathStack(char separator) : m_separator(separator) {}
        void MoveTo(u32 folder, const Folders& folders);
        // The folder's path and the separator ("" at the top).
        std::string_view Head() const { return m_text; }
        // The names from the top down to the folder.
        size_t Depth() const { return m_ends.size(); }
        std::string_view Name(size_t level) const;

    private:
        char m_separator;
        std::vector<u32> m_ids;
        std::vector<size_t> m_ends;
        std::string m_text;
        std::vector<u32> m_climb;
    };
    // Which folder the last line's parent was, for the next line (the lines of a folder mostly come
    // together).
    struct LastParent {
        IFileNode* node = nullptr;
        u32 folder = 0;
    };
    bool OpenSource(std::string& reason);
    // The node's own path component: its name when that is already safe (referred to, not copied),
    // else the safe form kept in owned.
    static std::string_view ComponentOf(IFileNode* node, std::vector<std::unique_ptr<std::string>>& owned);
    // The folder whose path is the node's path from its found root, made (with those above it) when
    // new; a node met twice on the way up (a damaged tree) is taken as the top.
    u32 FolderOfPath(IFileNode* node);
    u32 ChildFolder(u32 parent, std::string_view name);
    // The node's line: its folder (kNoFolder at the top) and its own name.
    ListLine LineOf(IFileNode* node, LastParent& last);
    // Copies one file into the folder open at folderFd; true when copied.
    bool RecoverOne(IFileNode* node, int folderFd, const std::string& name, RecoverCounts& counts);
    // Copies one file to its path (parts) below the destination root open at rootFd, making the
    // folders on the way through descriptors, so no depth is too deep. A copy that fails leaves
    // nothing behind: neither a partial file nor a folder it made.
    // The folder of the last file copied stays open in last: files come in path order, so the next one
    // mostly lies in it or below it and is reached without walking from the root again.
    bool RecoverAt(int rootFd, const std::vector<std::string>& parts, IFileNode* node, RecoverCounts& counts,
                   OpenFolder& last);
    IDataRecovery* RecoveryFor(_tagSearcherType type);

    Options m_options;
    // The device scanned: m_owned, or a device of the enumeration (a block device under --deep).
    IStorageDevice* m_device = nullptr;
    std::unique_ptr<IStorageDevice> m_owned;
    bool m_enumerated = false;
    IRecoveryFilter* m_filter = nullptr;
    IRecoveryController* m_controller = nullptr;
    std::vector<IFileNode*, hugepages::Allocator<IFileNode*>> m_nodes;
    NodeSet m_seen;
    std::map<_tagSearcherType, IDataRecovery*> m_recoveries;
    Folders m_folders;
    // The folder of a node's own path, for the nodes met as folders above others.
    std::unordered_map<IFileNode*, u32> m_folderOf;
    std::vector<std::unique_ptr<std::string>> m_ownedNames;
};

}  // namespace scan
