// Small text checks shared by the engine.
#pragma once

// Non-zero when text is not null and is valid UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF); 0 otherwise. The empty text is valid.
int isValidString(const char* text);
