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

// The lines' indices in listing order. Lines of one folder are gathered (the order of their
// numbers kept) and sorted by name only when they do not come sorted; the folders are walked in the
// order of their heads, a folder's own lines placed among its subfolders' lines by one comparison
// with each subfolder's head. Lines without a folder are sorted by whole path and merged in. Lines
// whose names hold "/" under a folder with subfolders, or heads not ending in "/", are ordered by
// comparing lines instead (names as numbers past the folder's shared beginning of names, folders by
// the order of their heads, anything else whole).
std::vector<u32> ListOrder(std::span<const ListLine> lines);

}  // namespace scan
