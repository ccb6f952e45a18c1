#include "engine/RAWSearch/Core/RawFileInfo.h"

#include <cstring>

std::string CleanRawFileName(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    static constexpr char kBad[] = {'\x01', '\\', '/', ':', '?', '"', '<', '>', '|', '*', '\r', '\n'};
    for (char& c : text) {
        if (memchr(kBad, c, sizeof(kBad)) != nullptr) c = '_';
    }
    return text;
}

void CRawFileInfo::Reset() {
    m_startSector = 0;
    m_size = 0;
    m_type = 0;
    m_analyserType = 0xFFFF;
    m_analyser = nullptr;
    if (!m_name.empty()) m_name.clear();
    if (!m_time.empty()) m_time.clear();
    m_tagKind = RAW_TAG_NONE;
    if (!m_tagValue.empty()) m_tagValue.clear();
}

void CRawFileInfo::GetRawFileTagAndValue(RAW_FILE_TAG& kind, std::string& value) const {
    kind = m_tagKind;
    value = CleanRawFileName(m_tagValue);
}

void CRawFileInfo::SetRawFileTagAndValue(RAW_FILE_TAG kind, std::string value) {
    m_tagKind = kind;
    m_tagValue = CleanRawFileName(std::move(value));
}

void CRawFileInfo::SetRawFileName(std::string name) { m_name = CleanRawFileName(std::move(name)); }
