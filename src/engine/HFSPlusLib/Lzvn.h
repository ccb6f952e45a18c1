// A decoder of LZVN streams (the compression of HFS+ decmpfs types 7 and 8), from the published format:
// each opcode copies up to a few literal bytes from the stream and then a match from earlier output.
#pragma once

#include <cstddef>

// Decodes one stream from src into dst, writing at most dstSize bytes; the number of bytes produced.
// Stops at the end-of-stream opcode, or when dst is full. 0 when dstSize is below 16, when the source
// range wraps around the address space, and for a stream it cannot decode (an undefined opcode, a
// match before the start of the output, a stream that ends without its end-of-stream opcode).
unsigned long lzvn_decode(void* dst, unsigned long dstSize, const void* src, unsigned long srcSize);
