// The INI reader (the settings file of the FAT search's revise switch): [sections] and key=value lines
// read whole, then looked up. The input is the file.
#include <string>

#include "engine/FATLib/IniFile.h"
#include "engine/FATSearch/FATBuildChildren.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/MemoryFile.h"

BRELVOX_FUZZ_TARGET(16 * 1024) {
    fuzz::MemoryFile file(data, size);
    if (!file.IsOpen()) return;
    CIniFile ini;
    ini.Init(file.Path());
    std::string value;
    ini.ReadItem("UserExperience", "bRevise", value);
    for (const auto& [section, keys] : ini.Sections()) {
        for (const auto& [key, text] : keys) {
            FUZZ_CHECK(ini.ReadItem(section, key, value) == (text.empty() ? -1 : 0));
            std::string trimmed = text;
            CIniFile::TrimString(trimmed);
        }
    }
    fat::ReadReviseSwitch(file.Path());
}
