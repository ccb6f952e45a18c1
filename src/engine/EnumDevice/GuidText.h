// GUID texts ("C12A7328-F81F-11D2-BA4B-00A0C93EC93B") turned into the byte order of a GUID on disk.
#pragma once

#include <string_view>

#include "engine/Common/Types.h"

// The first 32-bit group and the next two 16-bit groups are stored little-endian, the last eight bytes
// as they stand. False (out untouched) when the text is not a GUID.
bool ParseGuidText(std::string_view text, u8 out[16]);
