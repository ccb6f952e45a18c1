// The layering check that the test command runs over the #include lines: quiet on a tree that keeps
// the layers, and failing, naming the file, on each include planted against a rule.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace {

struct Outcome {
    int status = -1;
    std::string output;
};

Outcome CheckLayers(const std::filesystem::path& root) {
    const std::string script = std::string(BRELVOX_SOURCE_DIR) + "/scripts/check-layers";
    const std::string command = "bash '" + script + "' '" + root.string() + "' 2>&1";
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    testsupport::WriteFile(path, text);
}

// A small tree whose includes all go the allowed way.
void CleanTree(const std::filesystem::path& root) {
    Write(root / "src/engine/Common/Types.h", "#pragma once\n#include <cstdint>\n");
    Write(root / "src/engine/DeviceRecords/IDeviceData.h",
          "#include \"engine/Common/Types.h\"\n#include \"engine/DeviceRecords/DeviceInfoStructs.h\"\n");
    Write(root / "src/engine/StorageDevice/Device.cpp",
          "#include \"engine/DeviceRecords/IDeviceData.h\"\n#include \"platform/disks/BlockDevice.h\"\n");
    Write(root / "src/engine/EnumDevice/Enum.cpp",
          "#include \"engine/StorageDevice/IStorageDevice.h\"\n"
          "#include \"engine/PartitionTableAnalyze/PartitionTableAnalyze.h\"\n");
    Write(root / "src/engine/Utility/FileNode.cpp", "#include \"engine/Utility/FileNode.h\"\n");
    // The engine's own order: searchers over their libraries over the data recovery.
    Write(root / "src/engine/NTFSSearch/Searcher.cpp",
          "#include \"engine/NTFSLib/NTFSFileRecord.h\"\n#include \"engine/DataRecovery/IFileReader.h\"\n");
    Write(root / "src/engine/NTFSLib/CompressFileReader.h", "#include \"engine/DataRecovery/FileReader.h\"\n");
    Write(root / "src/engine/HFSPlusLib/Reader.h", "#include \"engine/DataRecovery/IFileReader.h\"\n");
    Write(root / "src/engine/DataRecovery/FileReader.cpp",
          "#include \"engine/DataRecovery/FileReader.h\"\n#include \"engine/Utility/FileNode.h\"\n");
    Write(root / "src/engine/DirectoryTreeBuilder/Trash.cpp",
          "#include \"engine/DataRecovery/FileReader.h\"\n#include \"engine/Utility/FileNode.h\"\n");
    Write(root / "src/platform/disks/BlockDevice.cpp",
          "#include \"platform/disks/BlockDevice.h\"\n#include <vector>\n");
    Write(root / "src/bridge/Operation/Op.cpp",
          "#include \"engine/Common/Types.h\"\n#include \"platform/foundation/X.h\"\n");
    Write(root / "src/ui/kit/Window.cpp",
          "#include <QWidget>\n#include <QtCore/QString>\n#include \"bridge/Operation/Op.h\"\n");
    Write(root / "tools/brelvox-scan/main.cpp", "#include \"ScanSession.h\"\n#include \"engine/Common/Types.h\"\n");
}

}  // namespace

TEST(CheckLayers, PassesAKeptTreeAndFailsOnEachPlantedInclude) {
    {
        testsupport::TempDir dir;
        CleanTree(dir.path());
        const Outcome run = CheckLayers(dir.path());
        EXPECT_EQ(run.status, 0) << run.output;
    }
    const struct {
        const char* file;
        const char* include;
    } planted[] = {
        {"src/engine/FATLib/FATTable.cpp", "#include \"bridge/Operation/KXUIOperation.h\""},
        {"src/engine/Common/Types.h", "#include \"ui/kit/Window.h\""},
        {"src/engine/RAWSearch/Core/Table.cpp", "#include \"tools/brelvox-scan/ScanSession.h\""},
        {"src/platform/disks/BlockDevice.cpp", "#include \"engine/Common/Types.h\""},
        {"src/platform/foundation/Queue.cpp", "  #  include \"bridge/Notify/Center.h\""},
        {"src/bridge/Operation/Op.cpp", "#include \"ui/browser/ResultWindow.h\""},
        {"src/bridge/Operation/Op.cpp", "#include <QObject>"},
        {"src/engine/Common/Types.h", "#include <QtCore/QString>"},
        {"tools/brelvox-scan/main.cpp", "#include <QCoreApplication>"},
        {"src/engine/DeviceRecords/IDeviceData.h", "#include \"engine/StorageDevice/IStorageDevice.h\""},
        {"src/engine/StorageDevice/Device.cpp", "#include \"engine/EnumDevice/IDeviceData.h\""},
        {"src/engine/StorageDevice/Device.h", "#include \"engine/PartitionTableAnalyze/PartitionEntry.h\""},
        {"src/engine/PartitionTableAnalyze/Chain.cpp", "#include \"engine/EnumDevice/RecordText.h\""},
        {"src/engine/Utility/FileNode.cpp", "#include \"engine/FATLib/FATFileNode.h\""},
        {"src/engine/Utility/FileNode.cpp", "#include \"engine/RAWSearch/Core/RawFileInfo.h\""},
        // The data recovery reaches no file system's headers (the cycle with NTFSLib stays ended).
        {"src/engine/DataRecovery/FileReader.cpp", "#include \"engine/NTFSLib/NTFSFileNode.h\""},
        {"src/engine/DataRecovery/ResidentData.cpp", "#include \"engine/NTFSLib/ResidentDataStream.h\""},
        {"src/engine/DataRecovery/FileReader.cpp", "#include \"engine/HFSPlusLib/HFSPlusFileNode.h\""},
        {"src/engine/DataRecovery/FileReader.cpp", "#include \"engine/APFS/APFSFileNode.h\""},
        // A library includes no searcher.
        {"src/engine/NTFSLib/CompressFileReader.h", "#include \"engine/NTFSSearch/NTFSSearchController.h\""},
        {"src/engine/HFSPlusLib/Reader.h", "#include \"engine/HFSPlusSearch/HFSPlusCompleteSearcher.h\""},
        {"src/engine/FATLib/FATTable.cpp", "#include \"engine/FATSearch/FATCompleteFSearcher.h\""},
        // The tree builder names no file system.
        {"src/engine/DirectoryTreeBuilder/Trash.cpp", "#include \"engine/EXFatSearch/ExFatFileNode.h\""},
        {"src/engine/DirectoryTreeBuilder/Trash.cpp", "#include \"engine/NTFSLib/FileReaderEx.h\""},
        {"src/engine/DirectoryTreeBuilder/Recycler.cpp", "#include \"engine/FATLib/FATFileNode.h\""},
    };
    for (const auto& p : planted) {
        SCOPED_TRACE(std::string(p.file) + ": " + p.include);
        testsupport::TempDir dir;
        CleanTree(dir.path());
        const auto path = dir.path() / p.file;
        const std::string before = std::filesystem::exists(path) ? testsupport::ReadFile(path) : "";
        Write(path, before + p.include + "\n");
        const Outcome run = CheckLayers(dir.path());
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find(p.file), std::string::npos) << run.output;
    }
}
