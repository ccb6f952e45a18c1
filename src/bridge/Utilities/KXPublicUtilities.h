// Texts for sizes (decimal steps of 1000) and file systems, the keys of "PrivateData", the system
// version and the interface language.
#pragma once

#include <optional>
#include <string>

#include "engine/Common/Types.h"

namespace brelvox::foundation {
class ResourcePropertyList;
class UserDefaults;
}  // namespace brelvox::foundation

class KXPublicUtilities {
public:
    // Below 1000 "N byte", then KB, MB and GB with two decimals; GB is the largest unit.
    static std::string convertVolSpace(u64 bytes);
    // The same up to TB; negative values give the byte form.
    static std::string longlongDiskSize(i64 bytes);
    static std::string longlongConvertVolSpace(i64 bytes) { return longlongDiskSize(bytes); }
    static bool isMoreThan2GB(i64 bytes);
    // The number before the last two characters times the unit they name (KB, MB, GB, TB);
    // 0 for null, empty, an unknown unit or a negative number.
    static u64 volSpaceFromString(const char* text);
    static std::string fileSystemTypeForInt(int code, int isDmg, int isEdi);

    // "PrivateData" values (the standard list unless another is given).
    static std::optional<std::string> getProductName(brelvox::foundation::ResourcePropertyList* list = nullptr);
    static std::optional<std::string> getInstallVersion(brelvox::foundation::ResourcePropertyList* list = nullptr);
    static std::optional<std::string> getUpDataTimeStr(brelvox::foundation::ResourcePropertyList* list = nullptr);
    // Stored in the per-user overlay, atomically; false when it could not be written.
    static bool writeUpDataTimeStr(const std::string& value, brelvox::foundation::ResourcePropertyList* list = nullptr);
    static bool isBootable(brelvox::foundation::ResourcePropertyList* list = nullptr);
    static bool hasBrandingFlag(brelvox::foundation::ResourcePropertyList* list = nullptr);

    // This platform answers as the newest system the windows know (10.15).
    static void getSystemVersion(u32* major, u32* minor, u32* bugFix);
    static int getSystemVersion();
    // No network use: always false.
    static bool isCanBeUseNetWork() { return false; }
    // A date in the form the lists show (FormatFileTimeToString); nothing when it is not one.
    static std::optional<i64> convertDateFromString(const std::string& text);
    // The first "AppleLanguages" entry; empty when there is none.
    static std::string GetCurrentLanaguage(brelvox::foundation::UserDefaults* defaults = nullptr);
};
