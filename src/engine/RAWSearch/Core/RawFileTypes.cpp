#include "engine/RAWSearch/Core/RawFileTypes.h"

#include <cstring>

const char g_s_strFileExtName[kRawFileTypeRows][kRawFileExtWidth] = {
    "Raw",   "3DS",    "3GP",    "ADP",     "ANI",      "AI",     "ASF",  "WMA",   "WMV",   "AU",
    "AVI",   "BMP",    "CAB",    "CDR",     "CHM",      "CLK",    "CMX",  "CPT",   "CRW",   "CSL",
    "CUR",   "DBX",    "DLL",    "DOC",     "DWG",      "DXF",    "EMF",  "EPS",   "EXE",   "FH11",
    "GIF",   "GZ",     "HLP",    "HTM",     "ICO",      "JPG",    "LZH",  "MAX",   "MID",   "MDB",
    "MNY",   "MOF",    "MOV",    "MP3",     "MP4",      "M4A",    "M4V",  "MPP",   "OLE",   "ONE",
    "PDF",   "PNG",    "PPT",    "PUB",     "PSD",      "PSP",    "PST",  "QPW",   "RAR",   "RIFF",
    "RTF",   "SHW",    "SWF",    "TAR",     "TIF",      "TTF",    "VSD",  "WAV",   "WPD",   "WPG",
    "WMF",   "XLS",    "ZIP",    "DOCX",    "XLSX",     "PPTX",   "ACCDB", "NEF",  "NRW",   "AAC",
    "AIFF",  "APE",    "OGG",    "CR2",     "SR2",      "ARW",    "RAW",  "RW2",   "DNG",   "RAF",
    "FLV",   "SVG",    "SIT",    "SITX",    "RM",       "RMVB",   "MKV",  "DCR",   "KDC",   "3FR",
    "ERF",   "MEF",    "MRW",    "MDC",     "PEF",      "PTX",    "SRW",  "ORF",   "X3F",   "MPG",
    "PAGES", "KEY",    "NUMBERS", "DMG",    "EPUB",     "FCPEVENT", "EMLX", "ITL", "IPA",   "pkg",
    "OLM",   "ABCDDB", "icns",   "ODT",     "ODS",      "ODP",    "MBOX", "INDD",  "MUSE",  "M2TS",
    "GPX",   "PLIST",  "IBA",    "MOBI",    "SIB",      "JKS",    "PSAFE3", "NGRR", "TREC", "ENEX",
    "IPT",   "AAF",    "MXF",    "SKETCH",  "AEP",      "TAX",    "MLV",  "SQLITE",
};

std::string RawFileExtension(RAW_FILE_TYPE type) {
    if (type >= kRawFileTypeRows) return {};
    const char* row = g_s_strFileExtName[type];
    return std::string(row, strnlen(row, kRawFileExtWidth));
}
