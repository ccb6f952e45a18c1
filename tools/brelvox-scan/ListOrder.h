// The order of the driver's listing: lines in byte order of their whole paths, lines of one path in
// the order they came.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "engine/Common/Types.h"

namespace scan {

// A listed line's path: head then name. The head is the path of the node's folder and "/" (shared by
// every line of that folder), or empty; lines of one head carry one folder number, and a line whose
// head is not shared carries kNoFolder (its path is then compared whole).
struct ListLine {
    std::string_view head;
    std::string_view name;
    u32 folder;
};
inline constexpr u32 kNoFolder = u32(-1);

// The lines' indices in listing order. The lines are taken as a tree of folders (the heads split at
// "/") and ordered by TreeOrder; lines whose heads do not end in "/", or whose names under a folder
// hold "/", are ordered by comparing lines instead (names as numbers past the folder's shared
// beginning of names, folders by the order of their heads, anything else whole).
std::vector<u32> ListOrder(std::span<const ListLine> lines);

// Folders as a tree of names: folder f lies in folder parent[f] (kNoFolder: at the top) and is named
// name[f]; no two folders of one parent share a name. A folder's path is its parent's path, the
// separator and its name.
struct FolderTree {
    std::span<const u32> parent;
    std::span<const std::string_view> name;
};

// The lines' indices in the byte order of their paths, lines of one path in the order of their
// indices: a line's path is its folder's path (none for kNoFolder), the separator and its name (heads
// are not read). Names hold no separator. With "/" this is ListOrder's order; with NUL, the order of
// paths compared name by name. Nothing of a path is joined: a deep tree costs no more than its lines.
std::vector<u32> TreeOrder(std::span<const ListLine> lines, const FolderTree& folders, char separator);

}  // namespace scan
