// Rich text, HTML (8-bit and UTF-16), key stores, password safes and score files: files that end where
// their data runs into zeros, with device analysers for RTF (brace depth) and HTML (the closing tag).
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Analysers/ZeroRunRecord.h"

namespace text_rules {
inline constexpr RawSpeed::ZeroRunRule kRtf{20, 314572800, 0};
// HTML has no length of its own: a page ends where its text runs into zeros, however long it is.
inline constexpr RawSpeed::ZeroRunRule kHtml{20, 314572800, 0};
inline constexpr RawSpeed::ZeroRunRule kJks{20, 0xA00000, 0};
inline constexpr RawSpeed::ZeroRunRule kPsafe3{20, 52428800, 0};
inline constexpr RawSpeed::ZeroRunRule kSib{512, 0xA00000, 0};
inline constexpr u64 kRtfDeviceCap = 0xD000000;
inline constexpr u64 kHtmlDeviceCap = 0xD000000;
inline constexpr u64 kUnicodeHtmlCap = 0xD000000;
}  // namespace text_rules

// ASCII comparison without regard to case.
bool EqualsNoCase(const unsigned char* bytes, const char* text, size_t length);

class FileRTFAnalyser : public IRawFileAnalyser {
public:
    FileRTFAnalyser() : IRawFileAnalyser(RAW_TYPE_RTF) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileHTMAnalyser : public IRawFileAnalyser {
public:
    FileHTMAnalyser() : IRawFileAnalyser(RAW_TYPE_HTM) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // "<HTML" or "<!DOCTYPE HTML" at 0, without regard to case.
    static bool IsHtmlStart(const unsigned char* sector);
};

// HTML saved as UTF-16LE with its byte order mark, sized from the device.
class FileUnicodeHTMAnalyser : public IRawFileAnalyser {
public:
    FileUnicodeHTMAnalyser() : IRawFileAnalyser(RAW_TYPE_HTM) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

// A zero-run analyser that hands its abandoned records to a device analyser of the same type.
template <typename Fallback>
class PairedZeroRunAnalyser : public IRawFileAnalyser {
public:
    PairedZeroRunAnalyser(RAW_FILE_TYPE type, const ZeroRunRule& rule)
        : IRawFileAnalyser(type), m_rule(rule), m_fallback(std::make_unique<Fallback>()) {}
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    CRawFileInfo* CreateRawFileInfo() override {
        return new ZeroRunRawFileInfo(static_cast<RAW_FILE_TYPE>(m_defaultType), m_rule, m_fallback.get());
    }

protected:
    Fallback* GetFallback() { return m_fallback.get(); }

private:
    ZeroRunRule m_rule;
    std::unique_ptr<Fallback> m_fallback;
};

class RTFAnalyser : public PairedZeroRunAnalyser<FileRTFAnalyser> {
public:
    RTFAnalyser() : PairedZeroRunAnalyser(RAW_TYPE_RTF, text_rules::kRtf) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class HTMLAnalyser : public PairedZeroRunAnalyser<FileHTMAnalyser> {
public:
    HTMLAnalyser() : PairedZeroRunAnalyser(RAW_TYPE_HTM, text_rules::kHtml) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class JKSAnalyser : public ZeroRunAnalyser {
public:
    JKSAnalyser() : ZeroRunAnalyser(RAW_TYPE_JKS, text_rules::kJks) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class PSAFE3Analyser : public ZeroRunAnalyser {
public:
    PSAFE3Analyser() : ZeroRunAnalyser(RAW_TYPE_PSAFE3, text_rules::kPsafe3) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRequiredBits(RequiredBits* tests) const override;
};

class SIBAnalyser : public ZeroRunAnalyser {
public:
    SIBAnalyser() : ZeroRunAnalyser(RAW_TYPE_SIB, text_rules::kSib) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

}  // namespace RawSpeed
