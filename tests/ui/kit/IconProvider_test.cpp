// The windows' icons for the operations layer: file-type icons kept per extension, the generic file
// icon where no theme has one (offscreen), the same icons from other threads, named resource images
// and resized copies.
#include <gtest/gtest.h>

#include <QImage>
#include <thread>

#include "ui/kit/IconProvider.h"
#include "ui/kit/ImageDecoder.h"

namespace {

class OtherImage : public IIconImage {
public:
    int Width() const override { return 10; }
    int Height() const override { return 10; }
};

QImage Of(const IconImage& image) {
    return kit::ImageDecoder::ImageOf(image);
}

TEST(KitIconProvider, FileTypeIconsAreKeptPerExtension) {
    kit::IconProvider icons;
    const IconImage jpg = icons.IconForFileType("jpg");
    ASSERT_NE(jpg, nullptr);
    EXPECT_GT(jpg->Width(), 0);
    EXPECT_LE(jpg->Width(), kit::IconProvider::kIconSide);
    EXPECT_LE(jpg->Height(), kit::IconProvider::kIconSide);
    EXPECT_EQ(icons.IconForFileType("jpg"), jpg) << "drawn once";
    EXPECT_EQ(icons.IconForFileType("JPG"), jpg) << "the extension's case does not matter";
    // Offscreen there is no theme: every type, known or not, shows the generic file icon.
    for (const char* extension : {"png", "txt", "cr2", "no-such-extension", ""}) {
        SCOPED_TRACE(extension);
        const IconImage icon = icons.IconForFileType(extension);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(Of(icon), Of(jpg));
    }
}

TEST(KitIconProvider, OtherThreadsGetTheKeptIconOrTheGenericOne) {
    kit::IconProvider icons;
    const IconImage avi = icons.IconForFileType("avi");
    IconImage keptElsewhere, newElsewhere;
    std::thread loader([&] {
        keptElsewhere = icons.IconForFileType("avi");
        newElsewhere = icons.IconForFileType("mkv");
    });
    loader.join();
    EXPECT_EQ(keptElsewhere, avi);
    ASSERT_NE(newElsewhere, nullptr);
    EXPECT_EQ(Of(newElsewhere), Of(avi));
    // The main thread still draws the type's own icon later (not the stand-in of the other thread).
    EXPECT_NE(icons.IconForFileType("mkv"), newElsewhere);
}

TEST(KitIconProvider, NamedImagesAndResizedCopies) {
    kit::IconProvider icons;
    const IconImage file = icons.ImageNamed("icon_file");
    ASSERT_NE(file, nullptr);
    EXPECT_GT(file->Width(), 0);
    EXPECT_EQ(icons.ImageNamed("no-such-image"), nullptr);
    EXPECT_EQ(icons.ImageNamed(""), nullptr);

    const IconImage wide = icons.Resized(file, 64, 48);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(Of(wide).size(), QSize(64, 48));
    EXPECT_EQ(icons.Resized(nullptr, 64, 48), nullptr);
    EXPECT_EQ(icons.Resized(std::make_shared<OtherImage>(), 64, 48), nullptr);
    EXPECT_EQ(icons.Resized(file, 0, 48), nullptr);
}

}  // namespace
