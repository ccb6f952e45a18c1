// Property lists as the platform layer reads them (user defaults, the resource lists, localisation
// tables): XML or binary bytes parsed, every key of the dictionary read with each typed getter, nested
// values walked, and the list written back in both forms. The input is the file.
#include <string>

#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/MemoryFile.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

namespace {

using brelvox::foundation::PlistFormat;
using brelvox::foundation::PropertyList;

void ReadAll(const PropertyList& list, int depth) {
    if (!list.IsDictionary() || depth > 4) return;
    for (const std::string& key : list.Keys()) {
        FUZZ_CHECK(list.Has(key));
        list.GetString(key);
        list.GetBool(key);
        list.GetInteger(key);
        list.GetStringArray(key);
        if (auto value = list.GetValue(key)) ReadAll(*value, depth + 1);
    }
}

}  // namespace

BRELVOX_FUZZ_TARGET(64 * 1024) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (auto list = PropertyList::Parse(bytes)) {
        ReadAll(*list, 0);
        list->Serialize(PlistFormat::Xml);
        list->Serialize(PlistFormat::Binary);
    }
    // The user defaults of a settings file that holds these bytes.
    fuzz::MemoryFile file(data, size);
    if (!file.IsOpen()) return;
    brelvox::foundation::UserDefaults defaults(file.Path());
    defaults.GetStringArray("AppleLanguages");
    defaults.GetBool("Participate");
    defaults.GetInteger("ShowExisting");
}
