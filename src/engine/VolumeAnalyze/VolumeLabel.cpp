#include "engine/VolumeAnalyze/VolumeLabel.h"

#include <cstring>

namespace volumelabel {

void Copy(char* buffer, int length, const char* field, size_t fieldSize) {
    if (!buffer || length < 1) return;
    size_t n = field ? strnlen(field, fieldSize) : 0;
    if (n > size_t(length) - 1) n = size_t(length) - 1;
    if (n) std::memcpy(buffer, field, n);
    buffer[n] = '\0';
}

}  // namespace volumelabel
