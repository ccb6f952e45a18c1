// Reading brelvox-scan's --list output in the driver tests: one line per found file, tab-separated
// (searcher type, listed path, size, deleted, folder, ...).
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/Common/Types.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace testsupport {

struct ListedLine {
    std::string path;  // below the file-system root
    i64 size;
    bool deleted;
    bool directory;
};

// One listing row of the given searcher type whose path lies below a root folder (its name ends with
// ")"); false for any other row.
inline bool ParseListedLine(const std::string& row, const std::string& type, ListedLine& out) {
    std::vector<std::string> f;
    std::istringstream fields(row);
    for (std::string part; std::getline(fields, part, '\t');) f.push_back(part);
    if (f.size() != 6 || f[0] != type) return false;
    const size_t root = f[1].find(")/");
    if (root == std::string::npos) return false;
    out = ListedLine{f[1].substr(root + 2), std::stoll(f[2]), f[3] == "1", f[4] == "1"};
    return true;
}

// The rows of one searcher type in a listing file, keyed by key(path) (the path itself by default).
inline std::map<std::string, ListedLine> ReadListedLines(
    const std::filesystem::path& file, const std::string& type,
    const std::function<std::string(const std::string&)>& key = nullptr) {
    std::map<std::string, ListedLine> out;
    std::ifstream in(file);
    ListedLine line;
    for (std::string row; std::getline(in, row);)
        if (ParseListedLine(row, type, line)) out.emplace(key ? key(line.path) : line.path, line);
    return out;
}

// Every row of a searcher type below a root folder in a listing text, in its order (paths may repeat:
// files of two volumes).
inline std::vector<ListedLine> ListedLinesOf(const std::string& text, const std::string& type) {
    std::vector<ListedLine> out;
    std::istringstream in(text);
    ListedLine line;
    for (std::string row; std::getline(in, row);)
        if (ParseListedLine(row, type, line)) out.push_back(line);
    return out;
}

// The SHA-256 of every regular file below a folder (the copies of --recover), by path relative to it.
inline std::map<std::string, std::string> CopiedSha256(const std::filesystem::path& root) {
    std::map<std::string, std::string> out;
    if (!std::filesystem::exists(root)) return out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            out[std::filesystem::relative(entry.path(), root).string()] = Sha256Hex(ReadFile(entry.path()));
    return out;
}

// Every row's listed path and size field, in the order of the listing text.
inline std::vector<std::pair<std::string, std::string>> ListedPathsInOrder(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string type, path, size;
        std::getline(fields, type, '\t');
        std::getline(fields, path, '\t');
        std::getline(fields, size, '\t');
        out.emplace_back(std::move(path), std::move(size));
    }
    return out;
}

}  // namespace testsupport
