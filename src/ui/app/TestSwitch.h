// The program's test switch: the environment variable BRELVOX_TEST, inert unless it is set. Its value
// is a list of settings separated by ';', each "name" or "name=value" (blanks around names and values
// are dropped). A name the program does not know is an error: the program says so and ends with 2.
//
// Settings:
//   type-roots=FILE   once the program is up, writes the seven roots of the type tree to FILE, one
//                     line each: category bit, title, icon name and icon size ("1\tDocuments\t
//                     2IconImage\t16x16"), then quits through the operations layer's close.
//   menu-item=NAME    once the first window shows, chooses the main menu's item of that outlet name
//                     ("exit", "about", "pInCustomer"...: shell::KXAppDelegate::Outlets), as a click
//                     on it would; an unknown name ends the program with 2.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace app {

class TestSwitch {
public:
    static constexpr const char* kVariable = "BRELVOX_TEST";

    // The settings in value; nothing, with error set, for a name the program does not know or an
    // empty name.
    static std::optional<TestSwitch> Parse(std::string_view value, std::string* error);

    bool has(const std::string& name) const { return m_settings.count(name) != 0; }
    // The value of a setting ("" for one given without "="); nothing when it is not given.
    std::optional<std::string> value(const std::string& name) const;

private:
    std::map<std::string, std::string> m_settings;
};

}  // namespace app
