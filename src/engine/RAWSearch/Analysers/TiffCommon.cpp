#include "engine/RAWSearch/Analysers/TiffCommon.h"

#include <cctype>
#include <cstring>

#include "engine/RAWSearch/Analysers/FileJPGAnalyser.h"

namespace {

constexpr size_t kCameraTextBytes = 63;
constexpr size_t kMaxMakeLength = 30;

}  // namespace

std::string CameraText(const ByteReader& bytes) {
    const size_t n = std::min(bytes.size(), kCameraTextBytes);
    const char* text = reinterpret_cast<const char*>(bytes.data());
    return n == 0 ? std::string() : std::string(text, strnlen(text, n));
}

std::string CleanCameraMake(const std::string& raw) {
    std::string make = raw;
    for (char& c : make) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    make = CleanRawFileName(make);
    if (ApiIsInvalidCharInFileName(make) != 0 || make.size() > kMaxMakeLength) return {};
    return make;
}

std::string CleanCameraModel(const std::string& raw, size_t maxLength) {
    std::string model = CleanRawFileName(raw);
    if (ApiIsInvalidCharInFileName(model) != 0 || model.size() > maxLength) return {};
    return model;
}

RAW_FILE_TYPE CameraRawType(const std::string& make, const std::string& model, bool dng, bool panasonicHeader,
                            RAW_FILE_TYPE unmatched) {
    if (dng) return RAW_TYPE_DNG;
    auto has = [](const std::string& text, const char* part) { return text.find(part) != std::string::npos; };
    if (has(make, "NIKON")) return RAW_TYPE_NEF;
    if (has(make, "CANON")) return RAW_TYPE_CR2;
    if (has(make, "SONY")) return has(model, "DSC-R1") ? RAW_TYPE_SR2 : RAW_TYPE_ARW;
    if (has(make, "PANASONIC")) {
        return panasonicHeader && !has(model, "DMC-") ? RAW_TYPE_PANASONIC_RAW : RAW_TYPE_RW2;
    }
    if (has(make, "LEICA")) return panasonicHeader ? RAW_TYPE_PANASONIC_RAW : unmatched;
    if (has(make, "KODAK")) return has(model, "DCS Pro SLR") ? RAW_TYPE_DCR : RAW_TYPE_KDC;
    if (has(make, "EPSON")) return RAW_TYPE_ERF;
    if (has(make, "HASSELBLAD")) return RAW_TYPE_3FR;
    if (has(make, "MAMIYA")) return RAW_TYPE_MEF;
    if (has(make, "PENTAX")) return RAW_TYPE_PEF;
    if (has(make, "SAMSUNG")) return RAW_TYPE_SRW;
    if (has(make, "OLYMPUS")) return RAW_TYPE_ORF;
    return unmatched;
}

bool IsEmbeddedJpegStart(const ByteReader& bytes) {
    if (!bytes.Equals(0, "\xFF\xD8\xFF", 3)) return false;
    const u8 marker = bytes.U8(3).value_or(0);
    return marker == 0xE0 || marker == 0xE1 || marker == 0xDB;
}
