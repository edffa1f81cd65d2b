// Every failing file call during a save, on the emulated platform: a failed
// save returns 0, an existing file of that name keeps its content, a new one is
// not left behind, no temporary file stays and no handle stays open.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "frames/bitmap_writer.h"
#include "platform/emulated/host_api.h"

namespace fs = std::filesystem;

namespace {

class BitmapWriterFaults : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kovic-bmp-faults-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = dir_ / "snap.bmp";
        for (int i = 0; i < 600; ++i) px_[i] = static_cast<unsigned char>(i);
        live_ = emu::LiveObjects();
    }
    void TearDown() override {
        emu::ClearFaults();
        fs::remove_all(dir_);
    }

    int Save() { return kovic::WriteBitmapFile(file_.string().c_str(), 10, 20, px_, 600); }
    std::string Content() const {
        std::ifstream in(file_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
        return names;
    }

    fs::path dir_, file_;
    unsigned char px_[600];
    int live_ = 0;
};

struct Fault {
    emu::Call call;
    HRESULT result;
    int occurrence;
    const char *what;
};

// Replacing an existing file: open the target, let it go, write a temporary,
// move it over the target.
TEST_F(BitmapWriterFaults, EveryFailureWhileReplacingKeepsTheOldFile) {
    const Fault faults[] = {
        {emu::Call::CreateFile, E_FAIL, 1, "opening the target"},
        {emu::Call::WriteFile, E_FAIL, 1, "file header write"},
        {emu::Call::WriteFile, E_FAIL, 2, "information header write"},
        {emu::Call::WriteFile, E_FAIL, 3, "pixel write"},
        {emu::Call::WriteFile, S_FALSE, 3, "short pixel write reported as success"},
        {emu::Call::WriteFile, S_FALSE, 1, "short header write reported as success"},
        {emu::Call::CloseHandle, E_FAIL, 2, "closing the temporary"},
        {emu::Call::MoveFile, E_FAIL, 1, "replacement"},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        { std::ofstream(file_, std::ios::binary) << "previous snapshot"; }
        emu::ClearFaults();
        emu::FailCall(f.call, f.result, f.occurrence);
        EXPECT_EQ(Save(), 0);
        EXPECT_EQ(emu::FaultsFired(), 1);
        EXPECT_EQ(Content(), "previous snapshot");
        EXPECT_EQ(Entries(), std::set<std::string>{"snap.bmp"}) << "a temporary file was left behind";
        EXPECT_EQ(emu::LiveObjects(), live_) << "a file handle was left open";
    }
}

// A new file is written where it is to be; a save that fails removes it.
TEST_F(BitmapWriterFaults, EveryFailureOfANewFileLeavesNothing) {
    const Fault faults[] = {
        {emu::Call::CreateFile, E_FAIL, 1, "creating the file"},
        {emu::Call::WriteFile, E_FAIL, 1, "file header write"},
        {emu::Call::WriteFile, E_FAIL, 3, "pixel write"},
        {emu::Call::WriteFile, S_FALSE, 2, "short header write reported as success"},
        {emu::Call::CloseHandle, E_FAIL, 1, "close"},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        emu::ClearFaults();
        emu::FailCall(f.call, f.result, f.occurrence);
        EXPECT_EQ(Save(), 0);
        EXPECT_EQ(emu::FaultsFired(), 1);
        EXPECT_TRUE(Entries().empty()) << "a failed save left a file";
        EXPECT_EQ(emu::LiveObjects(), live_) << "a file handle was left open";
    }
}

// Failures the save survives: an unknown file type is taken for a plain file,
// a failed close of the let-go target does not concern the new content, and a
// folder that takes no temporary file has the target rewritten in place.
TEST_F(BitmapWriterFaults, FailuresThatStillSaveTheWholeFile) {
    const Fault faults[] = {
        {emu::Call::GetFileType, E_FAIL, 1, "file type unknown"},
        {emu::Call::CloseHandle, E_FAIL, 1, "closing the let-go target"},
        {emu::Call::CreateFile, E_FAIL, 2, "creating the temporary"},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        { std::ofstream(file_, std::ios::binary) << "previous snapshot"; }
        emu::ClearFaults();
        emu::FailCall(f.call, f.result, f.occurrence);
        EXPECT_EQ(Save(), 1);
        EXPECT_EQ(emu::FaultsFired(), 1);
        EXPECT_EQ(Content().size(), 654u);
        EXPECT_EQ(Entries(), std::set<std::string>{"snap.bmp"});
        EXPECT_EQ(emu::LiveObjects(), live_);
    }
}

// A temporary that cannot be removed after a failed replacement is the one
// thing left; the old file still stands.
TEST_F(BitmapWriterFaults, ATemporaryThatCannotBeRemovedIsAllThatStays) {
    { std::ofstream(file_, std::ios::binary) << "previous snapshot"; }
    emu::FailCall(emu::Call::MoveFile, E_FAIL);
    emu::FailCall(emu::Call::DeleteFile, E_FAIL);
    EXPECT_EQ(Save(), 0);
    EXPECT_EQ(Content(), "previous snapshot");
    EXPECT_EQ(Entries().size(), 2u);
    EXPECT_EQ(emu::LiveObjects(), live_);
}

}  // namespace
