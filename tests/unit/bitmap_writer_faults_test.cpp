// Every failing file call during a save, on the emulated platform: the result
// is 0, an existing file of that name keeps its content, nothing else is left.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "frames/bitmap_writer.h"
#include "platform/emulated/host_api.h"

namespace fs = std::filesystem;

namespace {

TEST(BitmapWriterFaults, EveryFailureKeepsTheOldFileAndLeavesNoTemporary) {
    fs::path dir = fs::temp_directory_path() / "kovic-bmp-faults";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::path file = dir / "snap.bmp";
    unsigned char px[600];
    for (int i = 0; i < 600; ++i) px[i] = static_cast<unsigned char>(i);

    struct Case {
        emu::Call call;
        HRESULT result;
        int occurrence;
        const char *what;
    } cases[] = {
        {emu::Call::CreateFile, E_FAIL, 1, "open"},
        {emu::Call::WriteFile, E_FAIL, 1, "file header write"},
        {emu::Call::WriteFile, E_FAIL, 2, "information header write"},
        {emu::Call::WriteFile, E_FAIL, 3, "pixel write"},
        {emu::Call::WriteFile, S_FALSE, 3, "short pixel write reported as success"},
        {emu::Call::WriteFile, S_FALSE, 1, "short header write reported as success"},
        {emu::Call::CloseHandle, E_FAIL, 1, "close"},
        {emu::Call::MoveFile, E_FAIL, 1, "replacement"},
    };
    const int live = emu::LiveObjects();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        { std::ofstream(file, std::ios::binary) << "previous snapshot"; }
        emu::ClearFaults();
        emu::FailCall(c.call, c.result, c.occurrence);
        EXPECT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 10, 20, px, 600), 0);
        EXPECT_EQ(emu::FaultsFired(), 1);
        std::ifstream in(file, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(content, "previous snapshot");
        int entries = 0;
        for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++entries;
        EXPECT_EQ(entries, 1) << "a temporary file was left behind";
        EXPECT_EQ(emu::LiveObjects(), live) << "a file handle was left open";
    }
    emu::ClearFaults();
    fs::remove_all(dir);
}

}  // namespace
