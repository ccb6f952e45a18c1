// Images whose names the windows make at run time ("%dIconImage" of a tree node's kind...), which the
// literal check of image names cannot see: each family lists its members, and each name must resolve
// to an image of the resources.
//
// To add a family: add its images to resources/images in the issue that first names them, then a row
// here with the format the code uses (a "%@" or "%d" conversion) and every value the code fills in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Format.h"
#include "ui/kit/Image.h"

namespace {

struct Family {
    const char* format;
    std::vector<brelvox::foundation::FormatArgument> members;
    const char* usedBy;
};

std::vector<brelvox::foundation::FormatArgument> Numbers(int first, int last) {
    std::vector<brelvox::foundation::FormatArgument> numbers;
    for (int n = first; n <= last; ++n) numbers.emplace_back(n);
    return numbers;
}

const std::vector<Family>& Families() {
    static const std::vector<Family> families = {
        {"%dIconImage", Numbers(0, 11), "the icon of a result-tree node by its kind (OpNodeData::nodeType)"},
        {"pf_checkbox_%@", {"no", "half", "yes"}, "the tick box of a list or tree row by its tick state (NewButton)"},
        {"checkbox_%@", {"yes", "no"}, "a grid item's check box, ticked or not (CNGridViewItem)"},
    };
    return families;
}

TEST(ImageFamilies, EveryMemberOfEachFamilyResolves) {
    for (const Family& family : Families()) {
        SCOPED_TRACE(std::string(family.format) + ": " + family.usedBy);
        EXPECT_FALSE(family.members.empty());
        for (const auto& member : family.members) {
            const std::string name = brelvox::foundation::FormatWithArguments(family.format, {&member, 1});
            EXPECT_NE(name, family.format) << "the format takes no member";
            EXPECT_TRUE(kit::Image::exists(QString::fromStdString(name))) << "no image named " << name;
            const kit::Image image = kit::Image::named(QString::fromStdString(name));
            EXPECT_FALSE(image.isPlaceholder()) << name;
            EXPECT_GT(image.size().width, 0) << name;
        }
    }
}

TEST(ImageFamilies, TheCheckFindsAMemberWithoutAnImage) {
    const brelvox::foundation::FormatArgument twelve(12);
    const std::string name = brelvox::foundation::FormatWithArguments("%dIconImage", {&twelve, 1});
    EXPECT_EQ(name, "12IconImage");
    EXPECT_FALSE(kit::Image::exists(QString::fromStdString(name)));
}

}  // namespace
