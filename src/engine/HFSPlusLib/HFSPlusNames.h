// Catalog names to UTF-8.
#pragma once

#include <string>

#include "engine/Common/Types.h"

namespace hfsplus {

// UTF-16 units (host order) to UTF-8 through iconv; an unconvertible unit ends the name (what was
// converted before it is kept).
std::string NameToUtf8(const u16* units, size_t count);

}  // namespace hfsplus
