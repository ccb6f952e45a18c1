// The engine side of the shared utilities: roots and searcher types of nodes, year and month of
// times, category titles, sorting, and the check for a second running copy.
#pragma once

#include <string>
#include <vector>

#include "engine/Common/SearcherTypes.h"

class IFileNode;
class IFilesystemNode;

class KXCPPPublic {
public:
    static KXCPPPublic& instance();

    // The topmost ancestor (at most 1024 steps up) as a file-system node; null for null, for a
    // longer chain, or when the root is not a file-system node.
    IFilesystemNode* GetFileSystemNode(IFileNode* node);
    // The root's searcher type; SEARCHER_NONE (38) for null or a node without root.
    u32 GetNodeSearcheType(IFileNode* node);

    void GetYearMonthByTimeT(int* year, int* month, i64 seconds);
    void GetYearMonthByFileTime(int* year, int* month, _FILETIME time);

    // Localised category title of a _FILTER_TYPE bit; empty for any other value.
    std::string FilterTypeToString(u32 bit);
    bool IsTypeString(const char* text, u32 bit);
    // The first category bit whose title equals text; 64 for null or no title.
    u32 StringToFilterType(const char* text);

    // The text after the last "." of the node's name, lower-cased; empty when the node, its name or
    // a "." is missing.
    std::string GetNodeExt(IFileNode* node);

    bool IsStringInFileNode(const char* needle, IFileNode* node);
    // Sorts with cmpFileNode(key), not stably; null entries are dropped first.
    void SortFileNodeVector(std::vector<IFileNode*>& nodes, u32 key);
    std::string GetStringByID(int id) { return "abc"; }

    // True when a process other than this one has the command name productName exactly (ignoring
    // case). procRoot is the process table's folder (a fake one in tests).
    bool IsAppRunning(const std::string& productName = "Brelvox", const std::string& procRoot = "/proc");

private:
    KXCPPPublic() = default;
};

// The order of the result lists: key 2 creation, 3 modification, 4 last access time (newest first);
// any other key the names in descending byte order. Null nodes sort after all others.
struct cmpFileNode {
    explicit cmpFileNode(u32 key) : m_key(key) {}
    bool operator()(IFileNode* a, IFileNode* b) const;

private:
    u32 m_key;
};
