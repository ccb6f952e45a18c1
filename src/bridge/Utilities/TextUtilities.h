// Text helpers of the operations layer: UTF-8 checks, conversion to 32-bit characters, and a
// substring test that ignores case.
#pragma once

#include <cstddef>
#include <string>

// isValidString: the engine's UTF-8 check.
#include "engine/Common/TextFunctions.h"

// Converts UTF-8 to 32-bit characters in host order with iconv, advancing the pointers and
// lengths as iconv does; the iconv result, or (size_t)-1 when no converter can be opened.
size_t UTF82WCHAR(char** in, size_t* inLength, char** out, size_t* outLength);

namespace bridge_text {

// True when needle occurs in text ignoring case (Unicode simple case folding of the C.UTF-8
// locale; ASCII only where that locale is missing). Invalid UTF-8 bytes compare as themselves.
bool ContainsIgnoringCase(const std::string& text, const std::string& needle);

// text with every character lower-cased (the folding of ContainsIgnoringCase); bytes that are not
// valid UTF-8 are kept as they are.
std::string ToLower(const std::string& text);

// Cuts text to at most maxBytes without splitting a UTF-8 sequence.
std::string CutAtUtf8Boundary(const std::string& text, size_t maxBytes);

}  // namespace bridge_text
