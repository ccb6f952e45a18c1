// The rows of the extension table that the picture and camera raw analysers give their files.
#pragma once

#include "engine/RAWSearch/Core/RawFileTypes.h"

enum : RAW_FILE_TYPE {
    RAW_TYPE_BMP = 11,
    RAW_TYPE_CRW = 18,
    RAW_TYPE_CUR = 20,
    RAW_TYPE_EMF = 26,
    RAW_TYPE_GIF = 30,
    RAW_TYPE_ICO = 34,
    RAW_TYPE_PNG = 51,
    RAW_TYPE_PSD = 54,
    RAW_TYPE_PSP = 55,
    RAW_TYPE_TIF = 64,
    RAW_TYPE_WMF = 70,
    RAW_TYPE_NEF = 77,
    RAW_TYPE_CR2 = 83,
    RAW_TYPE_SR2 = 84,
    RAW_TYPE_ARW = 85,
    RAW_TYPE_PANASONIC_RAW = 86,
    RAW_TYPE_RW2 = 87,
    RAW_TYPE_DNG = 88,
    RAW_TYPE_RAF = 89,
    RAW_TYPE_DCR = 97,
    RAW_TYPE_KDC = 98,
    RAW_TYPE_3FR = 99,
    RAW_TYPE_ERF = 100,
    RAW_TYPE_MEF = 101,
    RAW_TYPE_MRW = 102,
    RAW_TYPE_PEF = 104,
    RAW_TYPE_SRW = 106,
    RAW_TYPE_ORF = 107,
    RAW_TYPE_X3F = 108,
    RAW_TYPE_ICNS = 122,
};
