// The $UpCase file of a freshly formatted NTFS volume as the deep search compares it: 65,536 UTF-16
// code units, entry c the upper-case form of c; 512-byte sector k of the file holds entries 256k to
// 256k + 255. Generated from the Unicode simple upper-case mappings (scripts/make-ntfs-upcase-table):
// formatters differ from it in a few hundred entries (mkntfs in 217 of them), which is why the deep
// search counts a volume's $UpCase as matching when 99 % of its entries agree.
#pragma once

#include <array>

#include "engine/Common/Types.h"

inline constexpr u32 kUpCaseEntries = 65536;
inline constexpr u32 kUpCaseEntriesPerSector = 256;

const std::array<u16, kUpCaseEntries>& UP_CASE_FILE_CONTENTS_DEFINE();
