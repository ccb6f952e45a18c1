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

// The path at which node is to be written under destination, or nothing when there is nothing to
// write (null input, hidden node, no searcher type, a folder — which is created —, a path that
// cannot be made). For a file, the file is created empty with O_EXCL before the path is returned,
// so that no other writer can take the same name; the caller writes into it.
std::optional<std::string> CreateRecoveryFilePathByNode(IFileNode* node, const std::string& destination,
                                                        RecoveryFolderTable& folders);
