// The rows of the extension table that the MP3 and box-media analysers give their files.
#pragma once

#include "engine/RAWSearch/Core/RawFileTypes.h"

enum : RAW_FILE_TYPE {
    RAW_TYPE_3GP = 2,
    RAW_TYPE_MOV = 42,
    RAW_TYPE_MP3 = 43,
    RAW_TYPE_MP4 = 44,
    RAW_TYPE_M4A = 45,
    RAW_TYPE_M4V = 46,
    RAW_TYPE_TREC = 138,
};
