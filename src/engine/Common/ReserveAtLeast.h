// Room in a vector for at least `wanted` values, growing geometrically, so that a caller who asks for
// one more before each new value still costs linear time overall.
#pragma once

#include <algorithm>
#include <cstddef>

template <class Vector>
void ReserveAtLeast(Vector& values, std::size_t wanted) {
    if (wanted > values.capacity()) values.reserve(std::max(wanted, values.capacity() * 2));
}
