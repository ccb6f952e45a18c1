// The office metadata of a ZIP-based document: its docProps/core.xml entry, inflated (raw deflate) into
// a buffer no larger than the entry's stated size and parsed for title, creator, last editor and times.
#pragma once

#include <string>
#include <vector>

#include "engine/RAWSearch/Analysers/FileProperty.h"
#include "engine/RAWSearch/Analysers/ZipSearch.h"

class StreamWindow;

namespace Brance {

class OfficeTagFromXML {
public:
    // Entries of this size or more, packed or unpacked, are never read.
    static constexpr u32 kMaxEntrySize = 10240;

    enum class Result { Read, NotInHand, Never };

    // Reads the core.xml entry whose local header h begins at file offset headerOffset, when its data
    // lies in the search's buffer (window). NotInHand while its data runs past the bytes held; Never
    // for an entry that is refused, has left the buffer, or cannot be inflated or parsed.
    Result GetOfficeTagFromXML(const StreamWindow& window, i64 headerOffset, const tagZipLocalFileHeader& h,
                               FileProperty& out);
    // Inflates length bytes of raw deflate data into the output buffer, never past the entry's stated
    // uncompressed size; true when zlib reports no error.
    bool bDepress(const unsigned char* data, const tagZipLocalFileHeader& h, u64 length);
    // Parses the output buffer as core.xml into out; true when the document could be read.
    bool AnalyzeTag(FileProperty& out);
    // From the second character on, every ASCII letter becomes a blank and every ":" a "-".
    static std::string FilterFileTime(std::string time);

    // The most bytes zlib held at once while inflating (its state and window), for the tests of the
    // bound.
    static size_t PeakAllocation();

private:
    std::vector<unsigned char> m_output;
};

}  // namespace Brance
