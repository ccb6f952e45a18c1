// The order of the driver's listing: lines in byte order of their whole paths, lines of one path in
// the order they came.
#pragma once

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

// The lines' indices in listing order. Most comparisons read neither path whole: two lines of one
// folder are compared by their names, whose 16 bytes past the folder's shared beginning of names are
// held as numbers; lines of two folders of which neither head begins the other by the order of the
// folders' heads, sorted once. Lines that come in long sorted stretches are merged, not sorted anew.
std::vector<u32> ListOrder(const std::vector<ListLine>& lines);

}  // namespace scan
