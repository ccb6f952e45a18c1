#include "platform/foundation/Format.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace brelvox::foundation {

namespace {

constexpr int kLargestField = 4096;

// One conversion as written: its flags, width, precision and letter.
struct Conversion {
    std::string flags;
    int width = -1;
    int precision = -1;
    char letter = 0;
    size_t length = 0;  // characters from '%' to the letter included
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number of digits at text[at...]; false when it passes the largest field.
bool ReadField(std::string_view text, size_t& at, int& out) {
    out = 0;
    while (at < text.size() && IsDigit(text[at])) {
        out = out * 10 + (text[at] - '0');
        if (out > kLargestField) return false;
        ++at;
    }
    return true;
}

// The conversion that starts with the '%' at text[start]; nothing when it is not one we fill.
std::optional<Conversion> ParseConversion(std::string_view text, size_t start) {
    Conversion c;
    size_t at = start + 1;
    while (at < text.size() && std::string_view("-+ #0").find(text[at]) != std::string_view::npos) c.flags += text[at++];
    if (at < text.size() && IsDigit(text[at]) && !ReadField(text, at, c.width)) return std::nullopt;
    if (at < text.size() && text[at] == '.') {
        ++at;
        if (!ReadField(text, at, c.precision)) return std::nullopt;
    }
    while (at < text.size() && std::string_view("hlqjztL").find(text[at]) != std::string_view::npos) ++at;
    if (at >= text.size()) return std::nullopt;
    c.letter = text[at];
    if (std::string_view("@sdiuxXofFeEgG").find(c.letter) == std::string_view::npos) return std::nullopt;
    c.length = at - start + 1;
    return c;
}

// printf of one value under our own, checked conversion.
template <class T>
std::string Printf(const Conversion& c, const char* lengthAndLetter, T value) {
    std::string conversion = "%" + c.flags;
    if (c.width >= 0) conversion += std::to_string(c.width);
    if (c.precision >= 0) conversion += "." + std::to_string(c.precision);
    conversion += lengthAndLetter;
    char small[128];
    const int needed = std::snprintf(small, sizeof small, conversion.c_str(), value);
    if (needed < 0) return {};
    if (size_t(needed) < sizeof small) return std::string(small, size_t(needed));
    std::string out(size_t(needed) + 1, '\0');
    std::snprintf(out.data(), out.size(), conversion.c_str(), value);
    out.resize(size_t(needed));
    return out;
}

std::string ShortestText(double number) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, number);
    return std::string(text, result.ptr);
}

std::string AsText(const FormatArgument::Value& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
    if (const auto* number = std::get_if<std::uint64_t>(&value)) return std::to_string(*number);
    return ShortestText(std::get<double>(value));
}

// A floating-point number as the nearest integer printf can take (truncated, held to the range).
template <class T>
T Clamped(double number) {
    if (std::isnan(number)) return 0;
    if (number <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (number >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(number);
}

std::string Signed(const Conversion& c, const FormatArgument::Value& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) return Printf(c, PRId64, *number);
    // An unsigned count too large for a signed one stays what it is.
    if (const auto* number = std::get_if<std::uint64_t>(&value)) return Printf(c, PRIu64, *number);
    return Printf(c, PRId64, Clamped<std::int64_t>(std::get<double>(value)));
}

std::string Unsigned(const Conversion& c, const FormatArgument::Value& value) {
    std::string letter = c.letter == 'u' ? PRIu64 : c.letter == 'o' ? PRIo64 : c.letter == 'x' ? PRIx64 : PRIX64;
    if (const auto* number = std::get_if<std::uint64_t>(&value)) return Printf(c, letter.c_str(), *number);
    // A negative count keeps its sign in decimal rather than turning into a huge number.
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        if (*number < 0 && c.letter == 'u') return Printf(c, PRId64, *number);
        return Printf(c, letter.c_str(), static_cast<std::uint64_t>(*number));
    }
    return Printf(c, letter.c_str(), Clamped<std::uint64_t>(std::get<double>(value)));
}

std::string Floating(const Conversion& c, const FormatArgument::Value& value) {
    const char letter[] = {c.letter, '\0'};
    if (const auto* number = std::get_if<double>(&value)) return Printf(c, letter, *number);
    if (const auto* number = std::get_if<std::int64_t>(&value)) return Printf(c, letter, double(*number));
    return Printf(c, letter, double(std::get<std::uint64_t>(value)));
}

std::string Fill(const Conversion& c, const FormatArgument::Value& value) {
    // A text asked for as a number is shown as it is.
    if (c.letter == '@' || c.letter == 's' || std::holds_alternative<std::string>(value)) return AsText(value);
    switch (c.letter) {
        case 'd':
        case 'i':
            return Signed(c, value);
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            return Unsigned(c, value);
        default:
            return Floating(c, value);
    }
}

}  // namespace

std::string FormatWithArguments(std::string_view format, std::span<const FormatArgument> arguments) {
    std::string out;
    out.reserve(format.size());
    size_t next = 0;
    size_t at = 0;
    while (at < format.size()) {
        const size_t percent = format.find('%', at);
        out.append(format.substr(at, percent == std::string_view::npos ? std::string_view::npos : percent - at));
        if (percent == std::string_view::npos) break;
        if (percent + 1 < format.size() && format[percent + 1] == '%') {
            out += '%';
            at = percent + 2;
            continue;
        }
        const std::optional<Conversion> conversion = ParseConversion(format, percent);
        if (!conversion || next >= arguments.size()) {
            out += '%';
            at = percent + 1;
            continue;
        }
        out += Fill(*conversion, arguments[next++].value());
        at = percent + conversion->length;
    }
    return out;
}

}  // namespace brelvox::foundation
