// Label copying shared by the volume analysers.
#pragma once

#include <cstddef>

namespace volumelabel {

// Copies the label field (up to its first zero byte, at most fieldSize bytes) into buffer and always
// terminates it: at most length - 1 bytes are copied. Nothing happens for a null buffer or length < 1.
void Copy(char* buffer, int length, const char* field, size_t fieldSize);

}  // namespace volumelabel
