#include "engine/FATLib/IniFile.h"

int CIniFile::Init(const char* path) {
    m_path = path != nullptr ? path : "";
    return Init();
}

int CIniFile::ReadLine(FILE* file, std::string& line) {
    line.clear();
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!any) return -1;
    // Only the line end goes: a last line without one keeps its last character, and CRLF files
    // do not leave "\r" in their values.
    if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
    return 0;
}

int CIniFile::Init() {
    FILE* file = std::fopen(m_path.c_str(), "r");
    if (file == nullptr) return -1;
    std::string section;
    std::string line;
    int result = 0;
    while (ReadLine(file, line) == 0) {
        const size_t open = line.find('[');
        if (open != std::string::npos) {
            const size_t close = line.find(']');
            if (close == std::string::npos) {
                result = -1;
                break;
            }
            section = close > open ? line.substr(open + 1, close - open - 1) : line.substr(open + 1);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (section.empty()) {
            result = -1;
            break;
        }
        m_sections[section][line.substr(0, eq)] = line.substr(eq + 1);
    }
    std::fclose(file);
    return result;
}

int CIniFile::ReadItem(const std::string& section, const std::string& key, std::string& value) const {
    value.clear();
    const auto s = m_sections.find(section);
    if (s == m_sections.end()) return -1;
    const auto k = s->second.find(key);
    if (k == s->second.end()) return -1;  // reading never adds the key
    value = k->second;
    return value.empty() ? -1 : 0;
}

int CIniFile::TrimString(std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        text.clear();
        return -1;
    }
    const size_t last = text.find_last_not_of(" \t");
    text = text.substr(first, last - first + 1);
    return 0;
}
