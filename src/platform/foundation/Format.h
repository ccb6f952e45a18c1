// Texts made from a format and arguments, as the windows build their messages ("You have selected %@
// in %d file(s)."). Formats come from the localisation tables; arguments are names, counts and sizes,
// some read from disk. An argument is only ever inserted, never read as a format, and a format that
// does not match its arguments gives a text, never undefined behaviour.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace brelvox::foundation {

// One argument: a text, a signed or unsigned integer, or a floating-point number.
class FormatArgument {
public:
    using Value = std::variant<std::string, std::int64_t, std::uint64_t, double>;

    FormatArgument(std::string_view text) : m_value(std::string(text)) {}
    FormatArgument(const std::string& text) : m_value(text) {}
    FormatArgument(const char* text) : m_value(std::string(text ? text : "")) {}
    template <std::signed_integral T>
    FormatArgument(T number) : m_value(static_cast<std::int64_t>(number)) {}
    template <std::unsigned_integral T>
    FormatArgument(T number) : m_value(static_cast<std::uint64_t>(number)) {}
    template <std::floating_point T>
    FormatArgument(T number) : m_value(static_cast<double>(number)) {}

    const Value& value() const { return m_value; }

private:
    Value m_value;
};

// Fills the conversions of format, in order, with arguments:
//   %@ and %s           the argument as text (a number in its shortest decimal form);
//   %d %i               a signed integer;  %u %x %X %o  an unsigned integer;
//   %f %F %e %E %g %G   a floating-point number;  %% a percent sign.
// Length modifiers (hh h l ll q j z t L) may stand before the letter and are ignored: the argument
// says its own type, so "%d", "%ld", "%lld" and "%llu" all take any integer. Flags (- + space # 0),
// a width and a precision apply to numbers as printf applies them; a text goes in as it is. A
// number given where a text is asked for, or the other way round, is converted (a text stays text).
// A conversion without an argument left, one of another letter, a '*' or a width or precision over
// 4096 is copied as written; arguments left over are ignored.
std::string FormatWithArguments(std::string_view format, std::span<const FormatArgument> arguments);

template <class... Arguments>
std::string StringWithFormat(std::string_view format, const Arguments&... arguments) {
    const FormatArgument list[] = {FormatArgument(arguments)..., FormatArgument("")};
    return FormatWithArguments(format, std::span<const FormatArgument>(list, sizeof...(Arguments)));
}

}  // namespace brelvox::foundation
