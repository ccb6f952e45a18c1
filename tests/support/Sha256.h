// SHA-256 of a byte string, as lowercase hex, for comparing output with the sums that fixture
// generators record.
#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

std::string Sha256Hex(const void* data, size_t length);
inline std::string Sha256Hex(const std::string& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }

}  // namespace testsupport
