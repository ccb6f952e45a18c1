#include "support/HostileTable.h"

#include <fstream>
#include <stdexcept>

#include "support/Fixtures.h"

namespace testsupport {

std::vector<HostileCase> ReadHostileTable(const std::filesystem::path& table) {
    std::ifstream in(table);
    if (!in) throw std::runtime_error("cannot read " + table.string());
    std::vector<HostileCase> cases;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = SplitFields(line);
        if (fields.size() < 4) continue;
        const std::string& name = fields[0];
        const std::string& hex = fields[3];
        BytePatch patch{fields[1], std::stoull(fields[2]), {}};
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            patch.bytes.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        if (cases.empty() || cases.back().name != name) cases.push_back({name, {}});
        cases.back().patches.push_back(patch);
    }
    return cases;
}

void ApplyPatches(const std::filesystem::path& image, const std::vector<BytePatch>& patches,
                  const std::filesystem::path& target) {
    if (RunCommand("cp --sparse=always '" + image.string() + "' '" + target.string() + "'") != 0)
        throw std::runtime_error("cannot copy " + image.string());
    std::fstream out(target, std::ios::in | std::ios::out | std::ios::binary);
    for (const BytePatch& patch : patches) {
        out.seekp(static_cast<std::streamoff>(patch.offset));
        out.write(patch.bytes.data(), static_cast<std::streamsize>(patch.bytes.size()));
    }
    if (!out) throw std::runtime_error("cannot patch " + target.string());
}

}  // namespace testsupport
