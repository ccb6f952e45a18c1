// The rows of the extension table that the drawing, design and font analysers give their files.
#pragma once

#include "engine/RAWSearch/Core/RawFileTypes.h"

enum : RAW_FILE_TYPE {
    RAW_TYPE_3DS = 1,
    RAW_TYPE_CPT = 17,
    RAW_TYPE_DWG = 24,
    RAW_TYPE_DXF = 25,
    RAW_TYPE_FH11 = 29,
    RAW_TYPE_TTF = 65,
    RAW_TYPE_SVG = 91,
    RAW_TYPE_INDD = 127,
    RAW_TYPE_GPX = 130,
    RAW_TYPE_PLIST = 131,
    RAW_TYPE_NGRR = 137,
    RAW_TYPE_ENEX = 139,
    RAW_TYPE_AEP = 144,
};
