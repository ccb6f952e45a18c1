// Where a recovered file is written: <destination><prefix><nnnn>/<volume>/<folders>/<name>, with
// one numbered folder per searcher type and recovery, and a four-digit counter for names that
// exist already. Every component comes from SafePathComponent, so names found on disk never lead
// outside the destination, and nothing that exists is ever overwritten.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "engine/Common/Types.h"

class IFileNode;

// The numbered folder made for each searcher type in the current recovery (cleared at its start),
// and the clock that dates the folder names.
class RecoveryFolderTable {
public:
    using Clock = std::function<std::time_t()>;
    explicit RecoveryFolderTable(Clock clock = nullptr);

    void Clear();
    // The folder number of the type; 0 when none was made.
    int Get(u32 searcherType) const;
    void Set(u32 searcherType, int number);
    std::time_t Now() const;

private:
    mutable std::mutex m_mutex;
    std::map<u32, int> m_numbers;
    Clock m_clock;
};

// The file made for a recovered node: new and empty, open for writing, with the folder holding it
// open too, so the copy and its clean-up never resolve a path again.
class RecoveryFile {
public:
    RecoveryFile() = default;
    RecoveryFile(std::string path, std::string name, int fd, int folderFd);
    ~RecoveryFile();
    RecoveryFile(RecoveryFile&& other) noexcept;
    RecoveryFile& operator=(RecoveryFile&& other) noexcept;
    RecoveryFile(const RecoveryFile&) = delete;
    RecoveryFile& operator=(const RecoveryFile&) = delete;

    const std::string& path() const { return m_path; }  // for the windows and log lines
    const std::string& name() const { return m_name; }  // inside its folder
    int fd() const { return m_fd; }
    int folderFd() const { return m_folderFd; }
    // Closes the file (its folder stays open for Remove); false when the close reported an error.
    bool CloseFile();
    // Removes the file, so that a failed copy leaves nothing behind.
    void Remove();

private:
    void CloseAll();

    std::string m_path;
    std::string m_name;
    int m_fd = -1;
    int m_folderFd = -1;
};

// Makes the file of node under destination: the numbered folder of its searcher type, then its
// folders one by one (never through a link planted there), then the file under the first free name
// (O_EXCL: nothing that exists is opened). Nothing for null input, a hidden node, a node without
// searcher type, a folder (whose folders are made) or when a folder or the file cannot be made.
std::optional<RecoveryFile> CreateRecoveryFileByNode(IFileNode* node, const std::string& destination,
                                                     RecoveryFolderTable& folders);

// The path at which node is to be written under destination, or nothing when there is nothing to
// write (null input, hidden node, no searcher type, a folder — which is created —, a path that
// cannot be made). For a file, the file is created empty with O_EXCL before the path is returned,
// so that no other writer can take the same name; the caller writes into it.
std::optional<std::string> CreateRecoveryFilePathByNode(IFileNode* node, const std::string& destination,
                                                        RecoveryFolderTable& folders);
