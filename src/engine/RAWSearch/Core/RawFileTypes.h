// The file types of the signature search: a row index into the extension table, and the kinds of
// label a found file may carry.
#pragma once

#include <string>

#include "engine/Common/Types.h"

using RAW_FILE_TYPE = u32;

// Rows of the extension table; rows at or above kRawFileTypeRows have no extension and no category.
inline constexpr u32 kRawFileTypeRows = 2000;
inline constexpr u32 kRawFileTypeFilled = 148;
inline constexpr u32 kRawFileExtWidth = 9;

// 2000 rows of 9 bytes: an extension of at most 8 characters, zero-padded.
extern const char g_s_strFileExtName[kRawFileTypeRows][kRawFileExtWidth];

// Well-known rows used by the analysers built so far.
enum : RAW_FILE_TYPE {
    RAW_TYPE_RAW = 0,
    RAW_TYPE_DOC = 23,
    RAW_TYPE_EPS = 27,
    RAW_TYPE_JPG = 35,
    RAW_TYPE_PPT = 52,
    RAW_TYPE_XLS = 71,
    RAW_TYPE_DOCX = 73,
    RAW_TYPE_XLSX = 74,
    RAW_TYPE_PPTX = 75,
};

// The label kind of a found file.
enum RAW_FILE_TAG : i32 {
    RAW_TAG_NONE = -1,
    RAW_TAG_MUSIC_ARTIST = 0,
    RAW_TAG_CAMERA = 1,
    RAW_TAG_OFFICE = 2,
    RAW_TAG_MOVIE = 3,
    RAW_TAG_PDF = 4,
    RAW_TAG_AI = 5,
};

// The extension text of a type as the table holds it; empty for a type outside the table.
std::string RawFileExtension(RAW_FILE_TYPE type);
