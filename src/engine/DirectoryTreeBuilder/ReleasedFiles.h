// The live files of a quick scan that no listing or tree needs, released as they came. The duplicate test
// still compares later nodes with them (a deleted copy of a live file is refused, as it was while the
// live node was kept): what that test reads of a file is kept in 40 bytes instead of the node.
#pragma once

#include <deque>
#include <string_view>

#include "engine/Common/FlatKeyTable.h"
#include "engine/Common/SearcherTypes.h"
#include "engine/Common/Types.h"

class CFileNode;

class CReleasedFiles {
public:
    // Remembers a file (never a folder) that is released.
    void Add(CFileNode& file);
    // True when the file `node` equals a released file of a tree of `type` as the duplicate test
    // (CFileNode::operator==) compares two files: same ID and parent ID, the same name, and the same
    // partition (for HFS+, or the same creation time and size).
    bool Matches(CFileNode& node, _tagSearcherType type) const;
    size_t size() const { return m_files.size(); }
    // Forgets them all (when the end of a scan releases the unused nodes, kept ones included).
    void Clear();

private:
    struct File {
        i64 parentId;
        u64 nameHash;  // of the name; a 64-bit hash stands for the name (two names of one ID and
                       // parent that differ yet hash alike are not to be met)
        _FILETIME creation;
        i64 size;
        u32 next;  // index + 1 of the file released before it with the same ID, 0 for none
        u16 partition;
        bool named;  // a node may have no name at all, which differs from an empty one
    };
    static File Fingerprint(CFileNode& file);

    FlatKeyTable<i64, u32> m_latest;  // ID -> index + 1 of the file of that ID released last
    std::deque<File> m_files;         // grows without moving (no copy of the whole at a growth)
};
