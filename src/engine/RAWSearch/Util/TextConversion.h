// Conversions between UTF-8, 32-bit wide text carrying UTF-16 code units (surrogate pairs above
// 0xFFFF), and the C locale's multibyte text; a few UTF-8 measuring routines. No state.
#pragma once

#include <cstddef>

// Units written, or 0 on a malformed sequence.
long UTF8ToUNICODE(const unsigned char* in, long inLength, wchar_t* out, long outCount);
// Bytes written.
long UNICODEToUTF8(const wchar_t* in, long inCount, unsigned char* out, long outLength);
size_t ANSIToUNICODE(const char* in, size_t inLength, wchar_t* out, size_t outCount);
size_t UNICODEToANSI(const wchar_t* in, size_t inCount, char* out, size_t outLength);
size_t ANSIToUTF8(const char* in, size_t inLength, unsigned char* out, size_t outLength);
size_t UTF8ToANSI(const unsigned char* in, size_t inLength, char* out, size_t outLength);
// Encodes one character in 1 to 6 bytes; out must hold 6 bytes.
int XCharToUTF8(int c, char* out);
// Bytes consumed (0 on a malformed sequence); values of 0x10000 and above come reduced by 0x10000.
int UTF8ToXChar(const unsigned char* in, int& c);
int utf8_value(const unsigned char* in);
int utf8_strcmp(const char* a, const char* b, size_t n);
void utf8_strlen(const char* text, unsigned& characters, unsigned& bytes, unsigned maxBytes);
