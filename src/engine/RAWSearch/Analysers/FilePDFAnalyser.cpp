#include "engine/RAWSearch/Analysers/FilePDFAnalyser.h"

#include <cassert>
#include <cstring>

#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Util/RawUtility.h"
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
        // The last marker before the zeros, and its line end.
        const u64 data = static_cast<u64>(BruteForce::RawUtility::Binary_Compare(p, static_cast<int>(sectorSize)));
        const unsigned char* m = nullptr;
        for (const unsigned char* from = p; const unsigned char* hit =
                 Apimemstr(const_cast<unsigned char*>(from), static_cast<int>(p + data - from), kEnd, 5);
             from = hit + 1) {
            m = hit;
        }
        if (m != nullptr) {
            end = at + static_cast<u64>(m - p) + 5;
            for (int k = 0; k < 2 && end < at + data && (p[end - at] == '\r' || p[end - at] == '\n'); ++k) ++end;
            break;
        }
        // The marker may stand across the boundary with the sector before.
        unsigned char around[10];
        if (at >= 5 && file.CopyOut(at - 5, around, sizeof(around))) {
            if (const unsigned char* hit = Apimemstr(around, 10, kEnd, 5)) {
                end = at - 5 + static_cast<u64>(hit - around) + 5;
                while (end < at + data && (p[end - at] == '\r' || p[end - at] == '\n')) ++end;
                break;
            }
        }
    }
    info.m_size = end;
    return true;
}
