// Catalog names to UTF-8.
#pragma once

#include <string>

#include "engine/Common/Types.h"

namespace hfsplus {

// UTF-16 units (host order, at most 255 taken) to UTF-8; a surrogate that is not half of a pair ends
// the name (what was converted before it is kept). U+0000 stays a zero byte.
std::string NameToUtf8(const u16* units, size_t count);

}  // namespace hfsplus
