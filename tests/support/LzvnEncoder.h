// A small LZVN encoder for tests, from the published format: greedy matches found through a hash of
// three-byte sequences, encoded with the literal, match and distance opcodes the format defines, and
// the end-of-stream opcode. It makes valid streams, not small ones.
#pragma once

#include <string>

namespace testsupport {

std::string LzvnEncode(const std::string& data);

}  // namespace testsupport
