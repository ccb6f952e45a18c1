#include "engine/RAWSearch/Analysers/ZipSearch.h"

#include <algorithm>
#include <strings.h>

#include <cstring>

using namespace zip_layout;

namespace {

constexpr u16 kGuessNameLimit = 1024;
constexpr size_t kSearchPositions = 256;
constexpr size_t kMimetypeWindow = 64;

bool BeginsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool AddWithoutOverflow(u64 a, u64 b, u64& sum) { return !__builtin_add_overflow(a, b, &sum); }

}  // namespace

bool classZipSearch::IsValidHeader(const ByteReader& block) {
    const std::optional<u32> signature = block.Le32(kSignature);
    if (!signature) return false;
    switch (*signature) {
        case kLocalSignature: {
            const std::optional<u16> method = block.Le16(kLocalMethod);
            const std::optional<u16> nameLength = block.Le16(kLocalNameLength);
            return method && nameLength && *method <= kMaxMethod && *nameLength <= kMaxNameLength;
        }
        case kCentralSignature:
        case kEndSignature:
        case kZip64EndSignature:
        case kZip64LocatorSignature: return true;
        default: return false;
    }
}

int classZipSearch::FindFirstOf(const ByteReader& data, const char* const* patterns, int count) {
    for (size_t at = 0; at < kSearchPositions; ++at) {
        for (int k = 0; k < count; ++k) {
            const size_t length = strlen(patterns[k]);
            if (at + length <= kSearchPositions && data.Equals(at, patterns[k], length)) return k;
        }
    }
    return -1;
}

bool classZipSearch::FoundWithin(const ByteReader& data, size_t window, const char* pattern) {
    const size_t length = strlen(pattern);
    const size_t limit = std::min(window, data.size());
    for (size_t at = 0; at + length <= limit; ++at) {
        if (data.Equals(at, pattern, length)) return true;
    }
    return false;
}

void classZipSearch::ClassifyCentralName(const std::string& name, bool office, u32& type) {
    if (!office) return;
    if (name == "word/_rels/document.xml.rels") {
        type = RAW_TYPE_DOCX;
    } else if (name == "xl/_rels/workbook.xml.rels") {
        type = RAW_TYPE_XLSX;
    } else if (name == "ppt/_rels/presentation.xml.rels") {
        type = RAW_TYPE_PPTX;
    } else if (name == "Accounts/Outlook/") {
        type = RAW_TYPE_OLM;
    } else if (name.size() >= 5 && BeginsWith(name, "word")) {
        type = RAW_TYPE_DOCX;
    }
}

bool classZipSearch::IsIpaEntryName(const std::string& name) {
    static constexpr char kPayload[] = "Payload/";
    static constexpr size_t kPayloadLength = sizeof(kPayload) - 1;
    if (name.size() <= kPayloadLength || strncasecmp(name.c_str(), kPayload, kPayloadLength) != 0) return false;
    // The application folder directly inside Payload: a name without "/" before ".app/".
    const size_t app = name.find(".app/", kPayloadLength);
    return app != std::string::npos && app > kPayloadLength && name.find('/', kPayloadLength) == app + 4;
}

void classZipSearch::ClassifyLocalName(const std::string& name, const ByteReader& afterName, Walk walk, bool office,
                                       u32& type) {
    const bool guess = walk == Walk::Guess;
    // An iOS package: an entry of its application folder, wherever it stands in the archive.
    if (!office && type == RAW_TYPE_ZIP && IsIpaEntryName(name)) {
        type = RAW_TYPE_IPA;
        return;
    }
    // The first rule that matches sets the type and ends the examination.
    if (office) {
        if (name == "word/_rels/document.xml.rels" || (guess && name == "word/theme/theme1.xml")) {
            type = RAW_TYPE_DOCX;
            return;
        }
        if (name == "xl/_rels/workbook.xml.rels") {
            type = RAW_TYPE_XLSX;
            return;
        }
        if (name == "ppt/_rels/presentation.xml.rels") {
            type = RAW_TYPE_PPTX;
            return;
        }
    }
    // A 36-byte name with four "-" (a GUID) is a tax file; no other rule looks at such a name.
    if (guess && name.size() == 36) {
        if (std::count(name.begin(), name.end(), '-') == 4) type = RAW_TYPE_TAX;
        return;
    }
    if (office) {
        if (name == "Accounts/Outlook/com.microsoft.__Messages/" || name == "Accounts/Outlook/" ||
            name == "Local/com.microsoft.__Messages/") {
            type = RAW_TYPE_OLM;
        } else if (name.size() >= 5 && BeginsWith(name, "word")) {
            type = RAW_TYPE_DOCX;
        }
        return;
    }
    if (type != RAW_TYPE_PAGES && type != RAW_TYPE_KEY) {
        if (name.find("numbers/") != std::string::npos) {
            type = RAW_TYPE_NUMBERS;
            return;
        }
        if (name == "Index/Slide1.iwa" || name == "Index/Slide2.iwa" || name == "index.apxl") {
            type = RAW_TYPE_KEY;
            return;
        }
        // iWork documents: a few bytes after the name tell Pages from Numbers.
        if (name == "buildVersionHistory.plist") {
            static const char* const kTrunks[] = {"<string>numbers-trunk", "<string>pages-trunk"};
            if (guess) {
                type = FindFirstOf(afterName, kTrunks, 2) == 1 ? RAW_TYPE_PAGES : RAW_TYPE_NUMBERS;
            } else {
                type = FindFirstOf(afterName, kTrunks, 1) == 0   ? RAW_TYPE_NUMBERS
                       : FindFirstOf(afterName, kTrunks + 1, 1) == 0 ? RAW_TYPE_PAGES
                                                                     : RAW_TYPE_NUMBERS;
            }
            return;
        }
        if (name == "Index/DocumentStylesheet.iwa" || (guess && name == "Index/Tables/HeaderStorageBuckt-1.iwa")) {
            static const char* const kStyles[] = {"imported-paragraph-style-", "layout-style-"};
            type = FindFirstOf(afterName, kStyles, 2) >= 0 ? RAW_TYPE_PAGES : RAW_TYPE_NUMBERS;
            return;
        }
        if (guess && (name == "Index/Metadata.iwa" || name == "Metadata/Properties.plist")) {
            static const char* const kPages[] = {"CalculationEngine", "DocumentMetadata", "Xrevision"};
            type = FindFirstOf(afterName, kPages, 3) >= 0 ? RAW_TYPE_PAGES : RAW_TYPE_NUMBERS;
            return;
        }
    }
    if (type >= RAW_TYPE_PAGES && type <= RAW_TYPE_NUMBERS) return;
    if (guess && (BeginsWith(name, "OEBPS/Text/chapter") || name == "OPS/chapter.html")) {
        type = RAW_TYPE_EPUB;
        return;
    }
    if (name == "mimetype") {
        // Each later match overrides.
        if (FoundWithin(afterName, kMimetypeWindow, "application/epub+")) type = RAW_TYPE_EPUB;
        if (FoundWithin(afterName, kMimetypeWindow, "application/vnd.oasis.opendocument.text")) type = RAW_TYPE_ODT;
        if (FoundWithin(afterName, kMimetypeWindow, "application/vnd.oasis.opendocument.spreadsheet")) type = RAW_TYPE_ODS;
        if (FoundWithin(afterName, kMimetypeWindow, "application/vnd.oasis.opendocument.presentation")) {
            type = RAW_TYPE_ODP;
        }
    }
}

bool classZipSearch::GetBlockSize(const ByteReader& block, u64* blockSize, Walk walk, bool office, u32& type,
                                  std::string& name, u16* flags, int* metadataFound,
                                  tagZipLocalFileHeader* metadataHeader) {
    const std::optional<u32> signature = block.Le32(kSignature);
    if (!signature || blockSize == nullptr) return false;
    switch (*signature) {
        case kLocalSignature: {
            if (!block.Has(0, kLocalHeaderSize)) return false;
            const u16 nameLength = *block.Le16(kLocalNameLength);
            const u16 extraLength = *block.Le16(kLocalExtraLength);
            if (walk == Walk::Guess && nameLength > kGuessNameLimit) return false;
            if (!block.Has(kLocalHeaderSize, nameLength)) return false;
            u64 data = *block.Le32(kLocalCompressedSize);
            if (data == kSizeInZip64) {
                const std::optional<u64> size =
                    extraLength >= kZip64ExtraCompressedSize + 8
                        ? block.Le64(kLocalHeaderSize + nameLength + kZip64ExtraCompressedSize)
                        : std::nullopt;
                if (!size) return false;
                data = *size;
            }
            u64 size = 0;
            if (!AddWithoutOverflow(u64{kLocalHeaderSize} + nameLength + extraLength, data, size)) return false;
            *blockSize = size;
            name.assign(reinterpret_cast<const char*>(block.data()) + kLocalHeaderSize, nameLength);
            if (flags != nullptr) *flags = *block.Le16(kLocalFlags);
            if (walk == Walk::Guess && name == "docProps/core.xml" && metadataFound != nullptr) {
                *metadataFound = 1;
                if (metadataHeader != nullptr) block.CopyTo(0, metadataHeader->bytes, kLocalHeaderSize);
            }
            ClassifyLocalName(name, block.From(kLocalHeaderSize + nameLength), walk, office, type);
            return true;
        }
        case kCentralSignature: {
            if (!block.Has(0, kCentralHeaderSize)) return false;
            const u16 nameLength = *block.Le16(kCentralNameLength);
            if (walk == Walk::Guess && nameLength > kGuessNameLimit) return false;
            if (!block.Has(kCentralHeaderSize, nameLength)) return false;
            const std::string central(reinterpret_cast<const char*>(block.data()) + kCentralHeaderSize, nameLength);
            ClassifyCentralName(central, office, type);
            *blockSize = u64{kCentralHeaderSize} + nameLength + *block.Le16(kCentralExtraLength) +
                         *block.Le16(kCentralCommentLength);
            return true;
        }
        case kEndSignature: {
            const std::optional<u16> comment = block.Le16(kEndCommentLength);
            if (!comment) return false;
            *blockSize = kEndSize + *comment;
            return true;
        }
        case kZip64EndSignature: *blockSize = kZip64EndSize; return true;
        case kZip64LocatorSignature: *blockSize = kZip64LocatorSize; return true;
        default: return false;
    }
}
