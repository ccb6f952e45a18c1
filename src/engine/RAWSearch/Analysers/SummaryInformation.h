// The reader of an OLE SummaryInformation property set: title, author, last author and the creation
// and last-saved times of a legacy office document.
#pragma once

#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileProperty.h"

class CSummaryInFormation {
public:
    // Reads the property set stream at the start of the length bytes of stream into out. True when at
    // least one of the five texts is not empty; out is left as it was otherwise.
    bool GetFileInformation(const unsigned char* stream, FileProperty& out, int length);

    // True for the header of a SummaryInformation stream: byte order mark, version 0 or 1, one or two
    // sections, the first of them of the SummaryInformation format (a DocumentSummaryInformation
    // stream shares the rest of the header and is refused).
    static bool IsDocumentInformation(const ByteReader& stream);
    // The text of the property value at valueOffset of the stream: times as local
    // "year-month-day-hour-minute-second", strings as UTF-8; a 16-bit integer goes to codePage. Nothing
    // (out unchanged) for a value that does not lie in the stream or has another type.
    static void GetDetailInformation(const ByteReader& stream, i64 valueOffset, int& codePage, std::string& out);
    // Every ":" after the first character becomes "-".
    static std::string FilterFileTime(std::string time);
    // Leading blanks removed; a text of 25 bytes or more is cut to its first 24 (whole characters).
    static void OperateString(std::string& text);

private:
    u32 m_sectionSize = 0;
    i32 m_propertyCount = 0;
    u32 m_length = 0;
};
