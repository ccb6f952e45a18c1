// The rows of the extension table that the text, mail, database, archive and installer analysers give
// their files (WPD, WPG and SHW are named with the compound-file kinds).
#pragma once

#include "engine/RAWSearch/Core/RawFileTypes.h"

enum : RAW_FILE_TYPE {
    RAW_TYPE_CAB = 12,
    RAW_TYPE_CHM = 14,
    RAW_TYPE_DBX = 21,
    RAW_TYPE_GZ = 31,
    RAW_TYPE_HLP = 32,
    RAW_TYPE_HTM = 33,
    RAW_TYPE_LZH = 36,
    RAW_TYPE_MDB = 39,
    RAW_TYPE_MNY = 40,
    RAW_TYPE_ONE = 49,
    RAW_TYPE_PST = 56,
    RAW_TYPE_RAR = 58,
    RAW_TYPE_RTF = 60,
    RAW_TYPE_TAR = 63,
    RAW_TYPE_ACCDB = 76,
    RAW_TYPE_SIT = 92,
    RAW_TYPE_SITX = 93,
    RAW_TYPE_DMG = 113,
    RAW_TYPE_FCPEVENT = 115,
    RAW_TYPE_EMLX = 116,
    RAW_TYPE_PKG = 119,
    RAW_TYPE_ABCDDB = 121,
    RAW_TYPE_MBOX = 126,
    RAW_TYPE_MUSE = 128,
    RAW_TYPE_MOBI = 133,
    RAW_TYPE_SIB = 134,
    RAW_TYPE_JKS = 135,
    RAW_TYPE_PSAFE3 = 136,
    RAW_TYPE_SKETCH = 143,
    RAW_TYPE_SQLITE = 147,  // a SQLite database without the evidence of a more particular kind
};
