#include "bridge/Device/DmgImage.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/CatchExeception.h"
#include "platform/foundation/PropertyList.h"

namespace {

constexpr u64 kSector = 512;

void Log(const char* text) { CatchExeception::Instance()->WriteLog("%s\n", text); }

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool ReadAt(FILE* f, u64 offset, void* out, size_t length) {
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, length, f) == length;
}

bool Refuse(const char* path, const char* why) {
    CatchExeception::Instance()->WriteLog("disk image %s refused: %s\n", path, why);
    return false;
}

bool AllowedChunk(u32 type) {
    return type == udif_chunk::kZeroFill || type == udif_chunk::kRaw || type == udif_chunk::kIgnore ||
           type == udif_chunk::kComment || type == udif_chunk::kTerminator;
}

// One block table: false (with the reason logged) when it is cut short, not a "mish" block, or holds a
// chunk a flat reading would get wrong.
bool CheckBlockTable(const u8* data, u64 length, u64 dataForkOffset) {
    using namespace mish_layout;
    const ByteReader table(data, static_cast<size_t>(length));
    if (length < kChunks) {
        Log("block table refused: shorter than its 204-byte header");
        return false;
    }
    if (std::memcmp(data + kSignature, "mish", 4) != 0) {
        Log("block table refused: no \"mish\" signature");
        return false;
    }
    const u64 first = *table.Be64(kFirstSector);
    const u64 count = *table.Be64(kSectorCount);
    const u64 dataOffset = *table.Be64(kDataOffset);
    const u32 chunks = *table.Be32(kChunkCount);
    CatchExeception::Instance()->WriteLog("sectorcount: %llu, start sectorNum: %llu\n",
                                          static_cast<unsigned long long>(count),
                                          static_cast<unsigned long long>(first));
    CatchExeception::Instance()->WriteLog("mish dataoffset: %llu, bufferneed: %u\n",
                                          static_cast<unsigned long long>(dataOffset), *table.Be32(kBuffersNeeded));
    if (u64(chunks) > (length - kChunks) / kChunkSize) {
        Log("block table refused: its chunk count runs past its data");
        return false;
    }
    for (u32 i = 0; i < chunks; ++i) {
        const ByteReader chunk = *table.Sub(kChunks + size_t(i) * kChunkSize, kChunkSize);
        const u32 type = *chunk.Be32(kChunkType);
        const u64 chunkFirst = *chunk.Be64(kChunkFirstSector);
        const u64 chunkCount = *chunk.Be64(kChunkSectorCount);
        const u64 offset = *chunk.Be64(kChunkOffset);
        const u64 stored = *chunk.Be64(kChunkLength);
        CatchExeception::Instance()->WriteLog(
            "Bkl %u,start sector:%llu (have %llu sectors) - Compressed to %llu, %llu bytes, type = %u\n", i,
            static_cast<unsigned long long>(chunkFirst), static_cast<unsigned long long>(chunkCount),
            static_cast<unsigned long long>(offset), static_cast<unsigned long long>(stored), type);
        if (!AllowedChunk(type)) {
            CatchExeception::Instance()->WriteLog("block table refused: chunk %u of type 0x%08x is not stored raw\n",
                                                  i, type);
            return false;
        }
        if (type != udif_chunk::kRaw) continue;
        // A raw chunk reads right as flat sectors only where its bytes sit at its sectors' own offset.
        const unsigned __int128 sector = (unsigned __int128)first + chunkFirst;
        const unsigned __int128 at = (unsigned __int128)dataForkOffset + dataOffset + offset;
        if (at != sector * kSector || (unsigned __int128)stored != (unsigned __int128)chunkCount * kSector) {
            CatchExeception::Instance()->WriteLog("block table refused: raw chunk %u is not at its flat offset\n", i);
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseChunkEntry(plist_t blkxArray, u64 dataForkOffset) {
    Log("========= mish info begin =============");
    if (!blkxArray) return true;
    if (plist_get_node_type(blkxArray) != PLIST_ARRAY) {
        Log("block tables refused: \"blkx\" is not an array");
        return false;
    }
    const uint32_t tables = plist_array_get_size(blkxArray);
    for (uint32_t t = 0; t < tables; ++t) {
        plist_t element = plist_array_get_item(blkxArray, t);
        plist_t data = element && plist_get_node_type(element) == PLIST_DICT ? plist_dict_get_item(element, "Data")
                                                                             : nullptr;
        if (!data || plist_get_node_type(data) != PLIST_DATA) {
            Log("block tables refused: an element has no \"Data\"");
            return false;
        }
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(data, &length);
        if (!bytes && length != 0) return false;
        if (!CheckBlockTable(reinterpret_cast<const u8*>(bytes), length, dataForkOffset)) return false;
    }
    return true;
}

bool ParseDmgFile(const char* path, CDMGDeviceInfoStruct* record) {
    if (!path || !record) return false;
    File f(std::fopen(path, "rb"));
    if (!f) return Refuse(path, "it cannot be opened");

    char head[8] = {};
    if (std::fread(head, 1, sizeof head, f.get()) == sizeof head && std::memcmp(head, "encrcdsa", 8) == 0) {
        return Refuse(path, "it is encrypted");
    }
    if (fseeko(f.get(), 0, SEEK_END) != 0) return Refuse(path, "its length cannot be read");
    const off_t end = ftello(f.get());
    if (end <= static_cast<off_t>(koly_layout::kSize)) return Refuse(path, "it holds 512 bytes or less");
    const u64 length = static_cast<u64>(end);
    record->fileLength = length;

    u8 trailer[koly_layout::kSize];
    if (!ReadAt(f.get(), length - koly_layout::kSize, trailer, sizeof trailer)) {
        return Refuse(path, "its last 512 bytes cannot be read");
    }
    if (std::memcmp(trailer + koly_layout::kSignature, "koly", 4) != 0) {
        record->totalSectors = length / kSector;  // a partial last sector is left out
        return true;
    }

    const ByteReader koly(trailer, sizeof trailer);
    const u64 dataFork = *koly.Be64(koly_layout::kDataForkOffset);
    const u64 xmlOffset = *koly.Be64(koly_layout::kXmlOffset);
    const u64 xmlLength = *koly.Be64(koly_layout::kXmlLength);
    record->totalSectors = *koly.Be64(koly_layout::kSectorCount);
    Log("========= koly info begin =============");
    CatchExeception::Instance()->WriteLog("XML plist from: %llu, spanning %llu types\n",
                                          static_cast<unsigned long long>(xmlOffset),
                                          static_cast<unsigned long long>(xmlLength));
    CatchExeception::Instance()->WriteLog("Original total sectors: %llu\n",
                                          static_cast<unsigned long long>(record->totalSectors));
    Log("========= koly info end ===============");

    // The block tables must lie inside the file, before the trailer.
    const u64 body = length - koly_layout::kSize;
    if (xmlLength == 0 || xmlOffset > body || xmlLength > body - xmlOffset) {
        return Refuse(path, "its block tables lie outside the file");
    }
    if (xmlLength > kMaxDmgXmlBytes) return Refuse(path, "its block tables are too large");
    std::vector<char> xml(static_cast<size_t>(xmlLength));
    if (!ReadAt(f.get(), xmlOffset, xml.data(), xml.size())) return Refuse(path, "its block tables cannot be read");

    // Parsed as the settings are: a list whose keys or strings hold a NUL is refused with the rest.
    const auto list = brelvox::foundation::PropertyList::Parse(std::string(xml.data(), xml.size()));
    if (!list || !list->IsDictionary()) return Refuse(path, "its block tables are not a property list");
    plist_t root = list->Node();
    plist_t fork = plist_dict_get_item(root, "resource-fork");
    plist_t blkx = fork && plist_get_node_type(fork) == PLIST_DICT ? plist_dict_get_item(fork, "blkx") : nullptr;
    if (!ParseChunkEntry(blkx, dataFork)) return Refuse(path, "a block table holds a chunk a flat reading gets wrong");
    return true;
}
