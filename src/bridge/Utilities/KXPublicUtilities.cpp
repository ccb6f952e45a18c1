#include "bridge/Utilities/KXPublicUtilities.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bridge/Utilities/FileTime.h"
#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"

using brelvox::foundation::ResourcePropertyList;
using brelvox::foundation::UserDefaults;
namespace private_data = brelvox::foundation::private_data;

namespace {

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The value is printed in single precision, as the windows always showed it.
std::string Unit(double bytes, double unit, const char* suffix) {
    const float value = static_cast<float>(bytes / unit);
    return Format("%0.2f", static_cast<double>(value)) + " " + suffix;
}

ResourcePropertyList& List(ResourcePropertyList* list) {
    return list ? *list : ResourcePropertyList::PrivateData();
}

}  // namespace

std::string KXPublicUtilities::convertVolSpace(u64 bytes) {
    const double b = static_cast<double>(bytes);
    if (b < 1e3) return Format("%.0f", static_cast<double>(static_cast<float>(b))) + " byte";
    if (b < 1e6) return Unit(b, 1e3, "KB");
    if (b < 1e9) return Unit(b, 1e6, "MB");
    return Unit(b, 1e9, "GB");
}

std::string KXPublicUtilities::longlongDiskSize(i64 bytes) {
    const double b = static_cast<double>(bytes);
    if (b < 1e3) return Format("%.0f", static_cast<double>(static_cast<float>(b))) + " byte";
    if (b < 1e6) return Unit(b, 1e3, "KB");
    if (b < 1e9) return Unit(b, 1e6, "MB");
    if (b < 1e12) return Unit(b, 1e9, "GB");
    return Unit(b, 1e12, "TB");
}

bool KXPublicUtilities::isMoreThan2GB(i64 bytes) {
    return bytes >= 1000000 && bytes / 1000000 > 2048;
}

u64 KXPublicUtilities::volSpaceFromString(const char* text) {
    if (!text) return 0;
    const size_t length = std::strlen(text);
    if (length < 2) return 0;
    const std::string number(text, length - 2);
    const std::string suffix(text + length - 2);
    float unit;
    if (suffix == "KB") {
        unit = 1000.0f;
    } else if (suffix == "MB") {
        unit = 1000000.0f;
    } else if (suffix == "GB") {
        unit = 1000000000.0f;
    } else if (suffix == "TB") {
        unit = 1000000000000.0f;  // 999,999,995,904 in single precision
    } else {
        return 0;
    }
    const float value = std::strtof(number.c_str(), nullptr) * unit;
    // Out-of-range values would make the conversion undefined.
    if (!(value > 0.0f)) return 0;
    if (value >= 18446744073709551615.0f) return UINT64_MAX;
    return static_cast<u64>(value);
}

std::string KXPublicUtilities::fileSystemTypeForInt(int code, int isDmg, int isEdi) {
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2",   "EXT3",
                                         "RAW",   "EXFAT", "HFS+",  "APFS", "Unknown"};
    if (isDmg) return "Disk Image";  // the EDI flag is not looked at
    if (code >= 0 && code <= 10) return kNames[code];
    return "Disk";
}

std::optional<std::string> KXPublicUtilities::getProductName(ResourcePropertyList* list) {
    return List(list).GetString(private_data::kProductName);
}

std::optional<std::string> KXPublicUtilities::getInstallVersion(ResourcePropertyList* list) {
    return List(list).GetString(private_data::kInstallVersion);
}

std::optional<std::string> KXPublicUtilities::getUpDataTimeStr(ResourcePropertyList* list) {
    return List(list).GetString(private_data::kUpdateTime);
}

bool KXPublicUtilities::writeUpDataTimeStr(const std::string& value, ResourcePropertyList* list) {
    return List(list).SetString(private_data::kUpdateTime, value);
}

bool KXPublicUtilities::isBootable(ResourcePropertyList* list) {
    return List(list).GetString(private_data::kIsBootable) == std::optional<std::string>("YES");
}

bool KXPublicUtilities::hasBrandingFlag(ResourcePropertyList* list) {
    const auto all = List(list).Read();
    return all && all->Has(private_data::kBrandingFlag);
}

void KXPublicUtilities::getSystemVersion(u32* major, u32* minor, u32* bugFix) {
    if (major) *major = 10;
    if (minor) *minor = 15;
    if (bugFix) *bugFix = 0;
}

int KXPublicUtilities::getSystemVersion() {
    u32 major = 0, minor = 0;
    getSystemVersion(&major, &minor, nullptr);
    return static_cast<int>(major * 100 + minor);
}

std::optional<i64> KXPublicUtilities::convertDateFromString(const std::string& text) {
    return bridge_time::ParseDateTime(text);
}

std::string KXPublicUtilities::GetCurrentLanaguage(UserDefaults* defaults) {
    UserDefaults& d = defaults ? *defaults : UserDefaults::Standard();
    const auto languages = d.GetStringArray(brelvox::foundation::defaults_key::kAppleLanguages);
    return languages.empty() ? std::string() : languages.front();
}
