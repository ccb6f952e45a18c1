// An icon provider for tests: icons are records of what they were made from, and every request is
// counted. Extensions listed as missing have no icon.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "bridge/ResultTree/IIconProvider.h"

namespace testsupport {

class FakeIcon : public IIconImage {
public:
    FakeIcon(std::string source, int width, int height) : source(std::move(source)), width(width), height(height) {}
    int Width() const override { return width; }
    int Height() const override { return height; }
    std::string source;  // "type:jpg", "named:3IconImage"
    int width;
    int height;
};

class FakeIconProvider : public IIconProvider {
public:
    explicit FakeIconProvider(std::set<std::string> missingTypes = {}) : m_missing(std::move(missingTypes)) {}

    IconImage IconForFileType(const std::string& extension) override;
    IconImage ImageNamed(const std::string& name) override;
    IconImage Resized(const IconImage& image, int width, int height) override;

    std::vector<std::string> Requests() const;

private:
    std::set<std::string> m_missing;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

}  // namespace testsupport
