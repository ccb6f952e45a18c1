// The "$I" record of a Windows recycle bin (layouts 1 and 2): the former name of a recycled file is
// taken from the stored path. The name later becomes a path component, so whatever the record holds,
// an accepted name is never empty, "." or "..", and holds no "/" or NUL. The input is the record.
#include <cstring>
#include <memory>
#include <string>

#include "engine/DirectoryTreeBuilder/RecyclerFilter.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(2 * CRecyclerFilter::kMaxIndexBytes) {
    auto record = std::make_unique<u8[]>(size);
    if (size != 0) std::memcpy(record.get(), data, size);
    std::string name;
    if (CRecyclerFilter::ParseIndexName(record.get(), size, name)) {
        FUZZ_CHECK(!name.empty() && name != "." && name != "..");
        FUZZ_CHECK(name.find('/') == std::string::npos && name.find('\0') == std::string::npos);
        FUZZ_CHECK(name.size() <= CRecyclerFilter::kMaxNameBytes);
    }
    std::string converted;
    if (CRecyclerFilter::UTF162UTF8(record.get(), size, converted, CRecyclerFilter::kMaxNameBytes)) {
        FUZZ_CHECK(converted.size() <= CRecyclerFilter::kMaxNameBytes);
    }
}
