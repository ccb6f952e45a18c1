// A small settings file of [sections] and key=value lines, read whole into memory.
#pragma once

#include <cstdio>
#include <map>
#include <string>

class CIniFile {
public:
    CIniFile() = default;
    explicit CIniFile(const char* path) : m_path(path != nullptr ? path : "") {}
    explicit CIniFile(const std::string& path) : m_path(path) {}

    // Sets the path and loads it. 0 on success, -1 on failure (entries read before a fault stay).
    int Init(const char* path);
    int Init(const std::string& path) { return Init(path.c_str()); }
    int Init();

    // -1 when the section is missing or the value is empty (or missing); else 0 with the value.
    int ReadItem(const std::string& section, const std::string& key, std::string& value) const;

    // The next line without its line end ("\n" or "\r\n"); -1 at the end of the file.
    static int ReadLine(FILE* file, std::string& line);
    // Removes blanks and tabs at both ends; -1 when the text is or becomes empty.
    static int TrimString(std::string& text);

    const std::map<std::string, std::map<std::string, std::string>>& Sections() const { return m_sections; }

private:
    std::string m_path;
    std::map<std::string, std::map<std::string, std::string>> m_sections;
};
