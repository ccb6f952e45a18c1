// The guessing record of text-like files (and of gzip): the file ends where its data runs into zeros,
// in the first sector that ends in at least 8 zero bytes once the file reaches a minimum length.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace RawSpeed {

struct ZeroRunRule {
    i64 minimum;  // bytes the file has at least
    i64 cap;      // a file running past this many bytes ends where it stands
    int adds;     // bytes added after the end the bisection finds (at most to the sector's end)
};

class ZeroRunRawFileInfo : public CRawFileInfo {
public:
    // fallback: the device analyser that sizes the record when it is abandoned (none: it is dropped).
    ZeroRunRawFileInfo(RAW_FILE_TYPE type, const ZeroRunRule& rule, IRawFileAnalyser* fallback = nullptr);

    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override {
        if (m_fallback != nullptr) m_analyser = m_fallback;
    }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    i64 m_startOffset = 0;  // bytes of the file before the part that has the minimum length

private:
    ZeroRunRule m_rule;
    IRawFileAnalyser* m_fallback;
    bool m_utf16 = false;  // the file begins with the UTF-16LE byte order mark
};

// A zero-run file with no device analyser of its own (key stores, password safes, score files).
class ZeroRunAnalyser : public IRawFileAnalyser {
public:
    ZeroRunAnalyser(RAW_FILE_TYPE type, const ZeroRunRule& rule) : IRawFileAnalyser(type), m_rule(rule) {}
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    CRawFileInfo* CreateRawFileInfo() override {
        return new ZeroRunRawFileInfo(static_cast<RAW_FILE_TYPE>(m_defaultType), m_rule);
    }

private:
    ZeroRunRule m_rule;
};

}  // namespace RawSpeed
