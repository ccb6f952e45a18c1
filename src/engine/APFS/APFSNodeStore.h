// Where APFS file nodes live. A deep scan makes a node for nearly every tree leaf it meets, and the
// general allocator's cost per node was a large share of the scan: nodes of one size are carved from
// 256 KiB slabs instead, and a released node's place is taken by the next one. The slabs go back to
// the system when the last node is released. Any thread may take or give a place (the tree builder
// releases nodes on its own thread). AddressSanitizer builds give every node its own allocation, so
// that a node used after its release, or released twice, is still caught.
#pragma once

#include <cstddef>

namespace apfs {

class NodeStore {
public:
    // A place of `size` bytes aligned for any node, or null when no memory is left.
    static void* Take(size_t size) noexcept;
    // Gives back a place taken with the same size.
    static void Give(void* place, size_t size) noexcept;
    // Places taken and not given back (a test aid; 0 when every node has its own allocation).
    static size_t Live() noexcept;
    // Whether places come from the slabs (false in AddressSanitizer builds).
    static bool Pooled() noexcept;
};

}  // namespace apfs
