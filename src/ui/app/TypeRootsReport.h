// What the type tree's roots are once the program is composed, for the test switch's "type-roots":
// per root, its category bit, title, icon name ("%dIconImage" of its kind) and the size of that icon
// as the installed icon provider makes it ("none" without one).
#pragma once

#include <string>

namespace app {

// One line per root, "bit\ttitle\ticon\tWxH\n", in root order. Touches KXTypeMgr::share().
std::string TypeRootsReport();
// Writes the report to file; false when it cannot be written.
bool WriteTypeRootsReport(const std::string& file);

}  // namespace app
