// The BMP snapshot writer against the platform's real file service (POSIX
// stand-ins natively, CreateFileA/WriteFile under Wine): exact bytes, and a
// failed save that never loses the file it would have replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frames/bitmap_writer.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> ReadAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path &p, const std::string &text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

class BitmapWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kovic-bmp-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    // Every file in the folder: a failed save leaves no temporary behind.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        return names;
    }
    fs::path dir_;
};

TEST(BitmapHeaders, SixFortyByFourEightyMatchesTheFileFormat) {
    unsigned char h[kovic::kBitmapHeaderBytes];
    kovic::LayOutBitmapHeaders(640, 480, 921600, h);
    const unsigned char expected[30] = {0x42, 0x4D, 0x36, 0x10, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x36, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x80, 0x02,
                                        0x00, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00};
    EXPECT_EQ(std::memcmp(h, expected, sizeof(expected)), 0);
    for (int i = 30; i < 54; ++i) EXPECT_EQ(h[i], 0) << "byte " << i;
}

TEST(BitmapHeaders, SignedHeightAndSizeFromTheLengthAlone) {
    unsigned char h[kovic::kBitmapHeaderBytes];
    kovic::LayOutBitmapHeaders(320, -240, 0, h);
    int32_t height, size;
    std::memcpy(&height, h + 22, 4);
    std::memcpy(&size, h + 2, 4);
    EXPECT_EQ(height, -240);
    EXPECT_EQ(size, 54) << "bfSize is length + 54, whatever the width and height";
}

TEST_F(BitmapWriterTest, WritesHeadersThenPixelsUnchanged) {
    std::vector<unsigned char> pixels(320 * 240 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7 + (i >> 9));
    fs::path file = dir_ / "frame.bmp";
    ASSERT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 320, 240, pixels.data(), 230400), 1);
    std::vector<unsigned char> bytes = ReadAll(file);
    ASSERT_EQ(bytes.size(), 230454u);
    unsigned char h[kovic::kBitmapHeaderBytes];
    kovic::LayOutBitmapHeaders(320, 240, 230400, h);
    EXPECT_EQ(std::memcmp(bytes.data(), h, 54), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 54, pixels.data(), pixels.size()), 0);
    EXPECT_EQ(Files(), std::vector<std::string>{"frame.bmp"});
}

TEST_F(BitmapWriterTest, EmptyFrameGivesTheHeadersAlone) {
    fs::path file = dir_ / "empty.bmp";
    ASSERT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 640, -480, nullptr, 0), 1);
    std::vector<unsigned char> bytes = ReadAll(file);
    ASSERT_EQ(bytes.size(), 54u);
    int32_t height;
    std::memcpy(&height, bytes.data() + 22, 4);
    EXPECT_EQ(height, -480);
}

TEST_F(BitmapWriterTest, ReplacesAnExistingFile) {
    fs::path file = dir_ / "same.bmp";
    WriteText(file, std::string(5000, 'o'));
    unsigned char px[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 2, 2, px, 12), 1);
    EXPECT_EQ(ReadAll(file).size(), 66u);
}

TEST_F(BitmapWriterTest, RefusesWhatItCannotWriteAndTouchesNothing) {
    unsigned char px[12] = {};
    fs::path missing = dir_ / "no-such-folder" / "x.bmp";
    EXPECT_EQ(kovic::WriteBitmapFile(missing.string().c_str(), 2, 2, px, 12), 0);
    EXPECT_FALSE(fs::exists(missing.parent_path()));
    fs::path file = dir_ / "bad.bmp";
    EXPECT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 2, 2, nullptr, 12), 0) << "no data for 12 bytes";
    EXPECT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 2, 2, px, -1), 0);
    EXPECT_TRUE(Files().empty());
}

TEST_F(BitmapWriterTest, TargetHeldOpenByAnotherFailsAndKeepsItsContent) {
    fs::path file = dir_ / "held.bmp";
    WriteText(file, "old content");
    HANDLE held = CreateFileA(file.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    unsigned char px[12] = {};
    EXPECT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 2, 2, px, 12), 0);
    CloseHandle(held);
    std::vector<unsigned char> bytes = ReadAll(file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old content");
    EXPECT_EQ(Files(), std::vector<std::string>{"held.bmp"});
}

// A path of exactly `length` characters inside `dir`, its folders made: the
// leaf is `leaf`, and folders of at most 60 characters fill the rest.
std::string PathOfLength(const fs::path &dir, size_t length, const std::string &leaf) {
    const std::string sep(1, static_cast<char>(fs::path::preferred_separator));
    std::string path = dir.string();
    // Characters left for folders, each folder taking its name and a separator.
    size_t room = length - path.size() - sep.size() - leaf.size();
    while (room > 0) {
        size_t chars = std::min<size_t>(60, room - 1);
        if (room - (chars + 1) == 1) --chars;  // a last folder needs two characters at least
        path += sep + std::string(chars, 'd');
        fs::create_directory(path);
        room -= chars + 1;
    }
    return path + sep + leaf;
}

// Names CreateFileA accepts near the path limit: a temporary name beside them
// would be past it, and the save still succeeds (in place), for a new file and
// for one it replaces.
TEST_F(BitmapWriterTest, NamesNearThePathLimitAreSaved) {
    unsigned char px[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2};
    for (size_t length : {size_t(256), size_t(MAX_PATH - 1)}) {
        SCOPED_TRACE(length);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const std::string name = PathOfLength(dir_, length, "x");
        ASSERT_EQ(name.size(), length);
        HANDLE probe = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(probe, INVALID_HANDLE_VALUE) << "the file service takes the name";
        CloseHandle(probe);
        ASSERT_TRUE(fs::remove(name));
        for (const char *round : {"new file", "replacing it"}) {
            SCOPED_TRACE(round);
            ASSERT_EQ(kovic::WriteBitmapFile(name.c_str(), 2, 2, px, 12), 1);
            std::vector<unsigned char> bytes = ReadAll(name);
            ASSERT_EQ(bytes.size(), 66u);
            EXPECT_EQ(std::memcmp(bytes.data() + 54, px, 12), 0);
            EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(name).parent_path()), fs::directory_iterator()),
                      1)
                << "only the snapshot is in its folder";
        }
    }
}

// The null device takes a snapshot like any file and says so.
TEST_F(BitmapWriterTest, TheNullDeviceTakesASnapshot) {
    unsigned char px[12] = {};
    EXPECT_EQ(kovic::WriteBitmapFile("NUL", 2, 2, px, 12), 1);
    EXPECT_EQ(kovic::WriteBitmapFile("nul", 2, 2, px, 12), 1);
}

// Files that look like temporary files, and are someone else's, are never
// opened: neither by a save that replaces a file beside them nor by one that
// fails on a folder.
TEST_F(BitmapWriterTest, FilesNamedLikeTemporariesAreLeftAlone) {
    const char *theirs[] = {"snap.bmp.0.tmp", "snap.bmp.1.tmp", "album.1.tmp", "~kv0.tmp", "~kv1.tmp", "~kv2.tmp"};
    for (const char *name : theirs) WriteText(dir_ / name, std::string("theirs: ") + name);
    WriteText(dir_ / "snap.bmp", "old");
    fs::create_directory(dir_ / "album");
    unsigned char px[12] = {};
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(kovic::WriteBitmapFile((dir_ / "snap.bmp").string().c_str(), 2, 2, px, 12), 1);
        EXPECT_EQ(kovic::WriteBitmapFile((dir_ / "album").string().c_str(), 2, 2, px, 12), 0);
    }
    EXPECT_EQ(ReadAll(dir_ / "snap.bmp").size(), 66u);
    for (const char *name : theirs) {
        std::vector<unsigned char> bytes = ReadAll(dir_ / name);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("theirs: ") + name);
    }
    EXPECT_EQ(Files().size(), 2u + sizeof(theirs) / sizeof(theirs[0])) << "a temporary file was left behind";
    EXPECT_TRUE(fs::is_empty(dir_ / "album"));
}

// A save succeeds exactly where the file service lets the target be opened
// for writing: a read-only file that CreateFileA refuses fails the save and
// keeps its content. (Windows refuses it to every user; Wine only to users
// without write permission, so the Windows test run repeats this case as an
// unprivileged user and demands the refusal there.)
TEST_F(BitmapWriterTest, AReadOnlyTargetFailsWhereTheFileServiceRefusesIt) {
    fs::path file = dir_ / "locked.bmp";
    WriteText(file, "keep me");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    HANDLE probe = CreateFileA(file.string().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool refused = probe == INVALID_HANDLE_VALUE;
    if (!refused) CloseHandle(probe);
    const char *demand = std::getenv("KOVIC_EXPECT_READ_ONLY_REFUSED");
    if (demand != nullptr && *demand == '1') {
        ASSERT_TRUE(refused) << "this run must see read-only files refused";
    }
    unsigned char px[12] = {};
    EXPECT_EQ(kovic::WriteBitmapFile(file.string().c_str(), 2, 2, px, 12), refused ? 0 : 1);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    std::vector<unsigned char> bytes = ReadAll(file);
    if (refused) {
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep me");
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"locked.bmp"});
}

}  // namespace
