// The rows of the extension table that the stream-walking and header-sized audio and video analysers
// give their files.
#pragma once

#include "engine/RAWSearch/Core/RawFileTypes.h"

enum : RAW_FILE_TYPE {
    RAW_TYPE_ANI = 4,
    RAW_TYPE_AU = 9,
    RAW_TYPE_AVI = 10,
    RAW_TYPE_CDR = 13,
    RAW_TYPE_CLK = 15,
    RAW_TYPE_CMX = 16,
    RAW_TYPE_CSL = 19,
    RAW_TYPE_MID = 38,
    RAW_TYPE_RIFF = 59,
    RAW_TYPE_SWF = 62,
    RAW_TYPE_WAV = 67,
    RAW_TYPE_AIFF = 80,
    RAW_TYPE_MKV = 96,
    RAW_TYPE_ITL = 117,
    RAW_TYPE_MLV = 146,
};

// The stream-walking analysers' types.
enum : RAW_FILE_TYPE {
    RAW_TYPE_ASF = 6,
    RAW_TYPE_WMA = 7,
    RAW_TYPE_WMV = 8,
    RAW_TYPE_AAC = 79,  // raw AAC in ADTS frames
    RAW_TYPE_APE = 81,
    RAW_TYPE_OGG = 82,
    RAW_TYPE_FLV = 90,
    RAW_TYPE_RM = 94,
    RAW_TYPE_RMVB = 95,
    RAW_TYPE_MPG = 109,
    RAW_TYPE_M2TS = 129,
    RAW_TYPE_MXF = 142,
};
