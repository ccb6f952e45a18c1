// Previews of the preview fixture through the controller as the result window asks for them, with the
// windows' decoder: the FAT image as a USB stick of a fake kernel tree, scanned by the engine, each
// picture read out of the device, checked against The Sleuth Kit's sums, and its thumbnail compared
// with QImageReader's picture of the same bytes.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Preview/IImageDecoder.h"
#include "bridge/Preview/Previews.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "engine/DataRecovery/IDataRecovery.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/Utility/IFileNode.h"
#include "support/FakeIconProvider.h"
#include "support/FakeKernelTree.h"
#include "support/FakeWindowSide.h"
#include "support/Fixtures.h"
#include "support/PutBytes.h"
#include "support/Sha256.h"
#include "support/TempDir.h"
#include "ui/kit/ImageDecoder.h"

using testsupport::PutInto;

namespace {

namespace fs = std::filesystem;
using testsupport::FakeWindowSide;
using testsupport::TempDir;

constexpr u64 kStart = 2048;

// The sums of every file in the fixture's listing.
std::set<std::string> IcatSums() {
    std::set<std::string> sums;
    std::istringstream in(testsupport::ReadFile(testsupport::FixturePath("previews/previews.icat.txt")));
    std::string line;
    while (std::getline(in, line)) {
        const size_t a = line.find('\t');
        const size_t b = line.find('\t', a + 1);
        if (a != std::string::npos && b != std::string::npos) sums.insert(line.substr(a + 1, b - a - 1));
    }
    return sums;
}

// The node's bytes as a new data-recovery object reads them.
std::string FoundBytes(IFileNode* node) {
    preview::RecoveryObject object = preview::NewRecoveryObject(node);
    if (!object) return {};
    IFileReader* reader = object->SetRecoverNode(node);
    if (!reader) return {};
    std::string bytes(size_t(std::max<i64>(node->GetFileSize(), 0)), '\0');
    const u32 n = reader->ReadData(0, bytes.data(), u32(bytes.size()), nullptr);
    reader->Release();
    bytes.resize(n);
    return bytes;
}

// QImageReader's picture of bytes scaled to fit 192 x 192.
QImage Reference(const std::string& bytes) {
    QByteArray array(bytes.data(), qsizetype(bytes.size()));
    QBuffer buffer(&array);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > 192 || size.height() > 192)) reader.setScaledSize(size.scaled(192, 192, Qt::KeepAspectRatio));
    return reader.read();
}

// The bytes this process has asked read() and pread() for so far.
u64 BytesReadSoFar() {
    std::istringstream in(testsupport::ReadFile("/proc/self/io"));
    std::string key;
    u64 value = 0;
    while (in >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 48 && std::abs(a.green() - b.green()) < 48 && std::abs(a.blue() - b.blue()) < 48;
}

class PreviewFixture : public testing::Test {
protected:
    void SetUp() override {
        SetImageDecoder(&decoder);
        SetIconProvider(&icons);
        const fs::path fat = testsupport::UnpackXz(testsupport::FixturePath("previews/previews.img.xz"), dir.path());
        const std::string volume = testsupport::ReadFile(fat);
        std::string disk(kStart * 512, '\0');
        disk[446 + 4] = char(0x06);
        PutInto(disk).Le32(446 + 8, u32(kStart));
        PutInto(disk).Le32(446 + 12, u32(volume.size() / 512));
        disk[510] = char(0x55);
        disk[511] = char(0xAA);
        disk += volume;
        kernel = std::make_unique<testsupport::FakeKernelTree>(dir / "kernel");
        kernel->AddDisk({.name = "sdb", .major = 8, .minor = 16, .size512 = disk.size() / 512, .removable = true,
                         .vendor = "Brelvox", .model = "Test Stick", .udev = {"ID_BUS=usb", "ID_PART_TABLE_TYPE=dos"}});
        testsupport::WriteFile(kernel->Node("sdb"), disk);
        kernel->AddPartition({.disk = "sdb", .name = "sdb1", .number = 1, .major = 8, .minor = 17, .start512 = kStart,
                              .size512 = volume.size() / 512});
        testsupport::WriteFile(kernel->Node("sdb1"), volume);
        KXUIController::initFileType();
        KXUIDeviceData::Config devices;
        devices.roots = kernel->Roots();
        window = std::make_unique<FakeWindowSide>(FakeWindowSide::Options{.devices = devices});
        window->Controller().NotifiyDeviceInfoAfterInit(ui_notification::kInitFinished);
        ASSERT_TRUE(window->RunUntil([&] { return window->Count(ui_notification::kInitFinished) == 1; }));
        window->Controller().GetDeviceInfoToArray(&rows);
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_NE(rows[0]->children(), nullptr);
        ASSERT_EQ(rows[0]->children()->size(), 1u);
    }
    void TearDown() override {
        window.reset();
        SetImageDecoder(nullptr);
        SetIconProvider(nullptr);
    }
    void ScanVolume(bool deep) {
        const DiskVolumeNodeData* volume = rows[0]->children()->front().get();
        window->Controller().SetRecoveryType(127);
        ASSERT_TRUE(deep ? window->Controller().DoDeepScanWithData(volume, ui_notification::kNormalScanValue)
                         : window->Controller().DoScanWithData(volume, ui_notification::kNormalScanValue));
        ASSERT_TRUE(window->RunUntilScanEnds());
    }
    // The found files of the volume's file system by name (deleted names as the scan gives them).
    std::map<std::string, IFileNode*> Files() {
        std::map<std::string, IFileNode*> files;
        for (const auto& [category, nodes] : KXUIScan::instance().GetTypeMap())
            for (IFileNode* node : nodes)
                if (KXCPPPublic::instance().GetNodeSearcheType(node) == SEARCHER_FAT && node->GetFileName())
                    files[node->GetFileName()] = node;
        return files;
    }
    // The picture's thumbnail matches QImageReader's picture of the bytes found, at four probe points.
    void ExpectPicture(IFileNode* node, const std::string& name) {
        SCOPED_TRACE(name);
        const std::string bytes = FoundBytes(node);
        EXPECT_TRUE(IcatSums().count(testsupport::Sha256Hex(bytes))) << "the bytes are the file's";
        const IconImage image = KXUIController::GetNSImageByFildNode(node);
        const QImage got = kit::ImageDecoder::ImageOf(image);
        ASSERT_FALSE(got.isNull());
        EXPECT_LE(got.width(), 192);
        EXPECT_LE(got.height(), 192);
        const QImage want = Reference(bytes);
        ASSERT_EQ(got.size(), want.size());
        for (auto [fx, fy] : {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}) {
            const QPoint at(int(fx * got.width()), int(fy * got.height()));
            EXPECT_TRUE(Near(got.pixelColor(at), want.pixelColor(at))) << at.x() << "," << at.y();
        }
    }
    std::string IconOf(IFileNode* node) {
        const auto image = KXUIController::GetNSImageByFildNode(node);  // held while its source is read
        const auto* icon = dynamic_cast<const testsupport::FakeIcon*>(image.get());
        return icon ? icon->source : "";
    }

    TempDir dir;
    kit::ImageDecoder decoder;
    testsupport::FakeIconProvider icons;
    std::unique_ptr<testsupport::FakeKernelTree> kernel;
    std::unique_ptr<FakeWindowSide> window;
    DiskVolumeNodeData::Rows rows;
};

TEST_F(PreviewFixture, DeletedFilesOfAQuickScan) {
    ScanVolume(false);
    const auto files = Files();
    std::string names;
    for (const auto& [name, node] : files) names += name + " ";
    ASSERT_TRUE(files.count("#MG_0002.JPG")) << names;
    ExpectPicture(files.at("#MG_0002.JPG"), "#MG_0002.JPG");
    ASSERT_TRUE(files.count("#ld.png"));
    ExpectPicture(files.at("#ld.png"), "#ld.png");
    ASSERT_TRUE(files.count("#lip.avi"));
    EXPECT_EQ(IconOf(files.at("#lip.avi")), "type:avi");
}

TEST_F(PreviewFixture, LiveFilesOfADeepScan) {
    ScanVolume(true);
    const auto files = Files();
    std::string names;
    for (const auto& [name, node] : files) names += name + " ";
    ASSERT_TRUE(files.count("chart.png")) << names;
    ExpectPicture(files.at("chart.png"), "chart.png");
    // The camera picture: its EXIF thumbnail (160 x 107), found in the file's first 64 KiB, stands in for
    // the 3000 x 2000 picture.
    ASSERT_TRUE(files.count("IMG_0001.JPG"));
    const u64 before = BytesReadSoFar();
    const QImage camera = kit::ImageDecoder::ImageOf(KXUIController::GetNSImageByFildNode(files.at("IMG_0001.JPG")));
    const u64 read = BytesReadSoFar() - before;
    // ReadSmallJPG's 64 KiB window of the 2.5 MiB file, and little else (the proc file, a FAT sector).
    EXPECT_GE(read, 65536u);
    EXPECT_LT(read, 2 * 65536u);
    EXPECT_EQ(camera.size(), QSize(160, 107));
    // A reduced copy of the picture: its colours are the picture's at the same places.
    const std::string cameraBytes = FoundBytes(files.at("IMG_0001.JPG"));
    EXPECT_TRUE(IcatSums().count(testsupport::Sha256Hex(cameraBytes)));
    const QImage whole = Reference(cameraBytes);
    ASSERT_FALSE(whole.isNull());
    for (auto [fx, fy] : {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}) {
        const QColor got = camera.pixelColor(int(fx * camera.width()), int(fy * camera.height()));
        EXPECT_TRUE(Near(got, whole.pixelColor(int(fx * whole.width()), int(fy * whole.height())))) << fx << "," << fy;
    }
    for (const auto& [name, icon] : std::vector<std::pair<std::string, std::string>>{
             {"empty.jpg", "type:jpg"}, {"layers.psd", "type:psd"}, {"IMG_0003.CR2", "type:cr2"},
             {"clip.mp4", "type:mp4"}, {"notes.txt", "type:txt"}}) {
        ASSERT_TRUE(files.count(name)) << name;
        EXPECT_EQ(IconOf(files.at(name)), icon) << name;
    }
}

}  // namespace
