// The rows that bind a sector's first bytes to analysers: a map by the first four bytes, a multimap by
// the first two (equal keys tried in row order) and a list tried at every sector neither claimed.
#pragma once

#include <vector>

#include "engine/Common/Types.h"

class IRawFileAnalyser;

enum class RawTableKind : u8 { Map, Multimap, List };

// The type of a row whose analyser tells the type from the file's content.
inline constexpr i32 kTypeByContent = -1;

struct RawSignatureRow {
    RawTableKind kind;
    const char* key;       // 4 bytes (map), 2 bytes (multimap), unused (list)
    const char* analyser;  // the class that serves the row
    i32 type;              // the analyser's default type (a RAW_TYPE_...), or kTypeByContent
    IRawFileAnalyser* (*create)();  // makes the row's analyser
};

// Every row, in table order: 81 map rows, 42 multimap rows, 9 list rows.
const std::vector<RawSignatureRow>& RawSignatureRows();

// Keys as the search reads them: the first bytes as little-endian integers (bytes is never null: the
// search asks for the key of every sector, without a test of its own).
u32 RawMapKey(const unsigned char* bytes) __attribute__((nonnull));
u16 RawMultimapKey(const unsigned char* bytes) __attribute__((nonnull));
