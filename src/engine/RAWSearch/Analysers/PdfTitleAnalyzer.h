// The document information of a PDF, read from the sectors the search passes: title, author, creator,
// producer and the two dates of its Info dictionary.
#pragma once

#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileProperty.h"

namespace BruteForce {

class PdfTitleAnalyzer {
public:
    // Reads the document information from the sector (sectorSize bytes at the start of `held`, the bytes
    // the search holds from there on): from the first "obj" of the sector, one sector's worth, or two
    // when moreBuffered. True (and out filled) when author, creator or a date was found.
    bool ObtainPerSecPDFInformation(const ByteReader& held, int sectorSize, bool moreBuffered, FileProperty& out);

    // A quick look at four bytes of the sector: false when none of them can belong to PDF text.
    static bool RemoveNolessVec(const unsigned char* bytes, int length);
    // The value of the key at the start of bytes: the text between the first "(" and the first ")" before
    // the next "/" in the first 512 bytes; text after the byte-order mark FE FF is UTF-16BE.
    static std::string ObtainPerInfo(const unsigned char* bytes, int length);
    // "D:" + fourteen digits (and more) as "year-month-day hour-minute-second"; empty otherwise.
    static std::string TimeChange(const std::string& date);
    // True when the text has at least 2 characters, all letters, digits, blanks, "(", "-", "." or "_".
    static bool JudeLegalInfo(const std::string& text);
    // True (and the title emptied) when the title holds a digit.
    static bool RemoveIllegalTitle(std::string& title);

private:
    bool SeparateInformation(const ByteReader& span, FileProperty& out);

    u32 m_spanLength = 0;
};

}  // namespace BruteForce
