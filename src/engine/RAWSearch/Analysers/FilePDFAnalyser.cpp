#include "engine/RAWSearch/Analysers/FilePDFAnalyser.h"

#include <cassert>
#include <cstring>

#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace {

constexpr u64 kWalkLimit = 0xD000000;
constexpr u64 kHeaderLook = 1024;
constexpr u64 kWalkStart = 2048;
constexpr int kFallbackWindow = 200;

bool Contains(const unsigned char* bytes, int length, const char* text) {
    return Apimemstr(const_cast<unsigned char*>(bytes), length, reinterpret_cast<const unsigned char*>(text),
                     static_cast<int>(strlen(text))) != nullptr;
}

}  // namespace

bool IsIllustratorPostScript(const unsigned char* bytes, int window) {
    if (bytes == nullptr || window < 10 || memcmp(bytes, "%!PS-Adobe", 10) != 0) return false;
    return Contains(bytes, window, "Adobe Illustrator") && !Contains(bytes, window, " EPSF-");
}

int FilePDFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    if (memcmp(sector, "%PDF-", 5) != 0 && !IsIllustratorPostScript(sector, kFallbackWindow)) return 0;
    info.m_type = RAW_TYPE_PDF;
    return 1;
}

bool FilePDFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    return GetRawFileSizeEx(info, device);
}

bool FilePDFAnalyser::GetRawFileSizeEx(CRawFileInfo& info, IStorageDevice* device) {
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const u64 sectorSize = file.GetSectorSize();
    u64 reached = 0;
    for (; reached < kHeaderLook; ++reached) {
        const unsigned char* p = file.GetRawFileBuffer(reached);
        if (p == nullptr) return false;
        const int held = static_cast<int>(std::min<u64>(file.Available(reached), 512));
        if (held >= 10 && memcmp(p, "%!PS-Adobe", 10) == 0 && Contains(p, held, "Adobe Illustrator")) {
            info.m_type = RAW_TYPE_AI;
            break;
        }
    }
    u64 at = reached % sectorSize == 0 ? reached : kWalkStart;
    u64 end = 0;
    for (;; at += sectorSize) {
        if (at > kWalkLimit) {
            end = at;
            break;
        }
        const unsigned char* p = file.GetRawFileBuffer(at);
        if (p == nullptr) return false;
        // The next document begins here.
        if (at != 0 && memcmp(p, "%PDF-", 5) == 0) {
            end = at;
            break;
        }
        static constexpr unsigned char kZeroWord[4] = {};
        if (memcmp(p + sectorSize - 4, kZeroWord, 4) != 0) continue;
        static constexpr unsigned char kEnd[] = "%%EOF";
        if (const unsigned char* m = Apimemstr(const_cast<unsigned char*>(p), static_cast<int>(sectorSize), kEnd, 5)) {
            end = at + static_cast<u64>(m - p) + 7;
            break;
        }
        // The marker may stand across the boundary with the sector before.
        unsigned char around[10];
        if (at >= 5 && file.CopyOut(at - 5, around, sizeof(around)) && Apimemstr(around, 10, kEnd, 5) != nullptr) {
            end = at + sectorSize + 5;
            break;
        }
    }
    info.m_size = (end + sectorSize - 1) / sectorSize * sectorSize;
    return true;
}
