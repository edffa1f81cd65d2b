// The device catalogue through its exports, on simulated devices.
#include <cstring>

#include "devices/device_catalogue.h"
#include "support/emulated_fixture.h"

using kovic_test::EmulatedTest;

namespace {

class DeviceCatalogueTest : public EmulatedTest {};

std::string NameAt(int index) {
    char name[80];
    std::memset(name, 0x5A, sizeof(name));
    EXPECT_EQ(KOVICGetVideoDevice(index, name), 1);
    return std::string(name, strnlen(name, sizeof(name)));
}

TEST_F(DeviceCatalogueTest, EmptyCategoryListsNothing) {
    CreateWith({});
    EXPECT_EQ(KOVICGetVideoDeviceCount(), 0);
    char name[80];
    std::memset(name, 0x5A, sizeof(name));
    EXPECT_EQ(KOVICGetVideoDevice(0, name), KOVIC_E_DEVICE_INDEX);
    EXPECT_EQ(KOVICGetVideoDevice(-1, name), KOVIC_E_NO_DEVICE_RECORD);
    EXPECT_EQ(name[0], 0x5A) << "a failed lookup wrote the buffer";
}

TEST_F(DeviceCatalogueTest, IndexBoundsAndNamesInEnumerationOrder) {
    CreateWith({Named(L"Front"), Named(L"Back"), Named(L"USB Camera")});
    ASSERT_EQ(KOVICGetVideoDeviceCount(), 3);
    EXPECT_EQ(NameAt(0), "Front");
    EXPECT_EQ(NameAt(2), "USB Camera");
    char name[80];
    EXPECT_EQ(KOVICGetVideoDevice(3, name), KOVIC_E_DEVICE_INDEX);
    EXPECT_EQ(KOVICGetVideoDevice(-1, name), KOVIC_E_NO_DEVICE_RECORD);
    EXPECT_EQ(KOVICGetVideoDevice(0, nullptr), 0);
}

TEST_F(DeviceCatalogueTest, CopiesExactlyEightyBytesZeroFilledAfterTheName) {
    CreateWith({Named(L"Cam")});
    unsigned char buffer[96];
    std::memset(buffer, 0xEE, sizeof(buffer));
    ASSERT_EQ(KOVICGetVideoDevice(0, reinterpret_cast<char *>(buffer)), 1);
    EXPECT_EQ(std::memcmp(buffer, "Cam", 4), 0);
    for (int i = 4; i < 80; ++i) EXPECT_EQ(buffer[i], 0) << "byte " << i;
    for (int i = 80; i < 96; ++i) EXPECT_EQ(buffer[i], 0xEE) << "wrote past 80 bytes at " << i;
}

TEST_F(DeviceCatalogueTest, CreateTwiceListsEachDeviceOnceAndDestroyKeepsTheList) {
    CreateWith({Named(L"A"), Named(L"B")});
    ASSERT_EQ(KOVICCreate(), 1);
    EXPECT_EQ(KOVICGetVideoDeviceCount(), 2);
    EXPECT_EQ(NameAt(1), "B");
    EXPECT_EQ(KOVICDestroy(), 1);
    EXPECT_EQ(KOVICGetVideoDeviceCount(), 2);
}

TEST_F(DeviceCatalogueTest, UnopenablePropertyBagSkipsTheDeviceAndLaterOnesMoveUp) {
    emu::SimulatedDevice broken = Named(L"Broken");
    broken.property_bag_fails = true;
    CreateWith({Named(L"First"), broken, Named(L"Third")});
    ASSERT_EQ(KOVICGetVideoDeviceCount(), 2);
    EXPECT_EQ(NameAt(1), "Third");
}

TEST_F(DeviceCatalogueTest, UnreadableNameIsEmptyNeverAnEarlierDevicesName) {
    emu::SimulatedDevice nameless = Named(L"Hidden");
    nameless.name_unreadable = true;
    emu::SimulatedDevice no_clsid = Named(L"NoClass");
    no_clsid.clsid_unreadable = true;
    CreateWith({Named(L"A long first device name"), nameless, no_clsid});
    ASSERT_EQ(KOVICGetVideoDeviceCount(), 3);
    EXPECT_EQ(NameAt(1), "");
    EXPECT_EQ(NameAt(2), "NoClass");
    const kovic::DeviceRecord *r = kovic::DeviceAt(2);
    ASSERT_NE(r, nullptr);
    const CLSID zero = {};
    EXPECT_TRUE(IsEqualGUID(r->class_id, zero));
}

TEST_F(DeviceCatalogueTest, ClassIdParsedFromRegistryFormAndZeroWhenMalformed) {
    emu::SimulatedDevice good = Named(L"Good");
    good.clsid_text = L"{12345678-9ABC-DEF0-1122-334455667788}";
    emu::SimulatedDevice bad = Named(L"Bad");
    bad.clsid_text = L"12345678-9ABC-DEF0-1122-334455667788";
    CreateWith({good, bad});
    const CLSID expected = {0x12345678, 0x9ABC, 0xDEF0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
    EXPECT_TRUE(IsEqualGUID(kovic::DeviceAt(0)->class_id, expected));
    const CLSID zero = {};
    EXPECT_TRUE(IsEqualGUID(kovic::DeviceAt(1)->class_id, zero));
}

TEST_F(DeviceCatalogueTest, LongNamesAreCutAtACharacterBoundaryWithinEightyBytes) {
    // 100 ASCII characters, and 40 three-byte characters (120 bytes in UTF-8).
    std::wstring ascii(100, L'x');
    std::wstring wide(40, L'\u20AC');
    CreateWith({Named(ascii.c_str()), Named(wide.c_str())});
    EXPECT_EQ(NameAt(0), std::string(79, 'x'));
    std::string cut = NameAt(1);
    EXPECT_EQ(cut.size(), 78u) << "26 whole euro signs";
    for (size_t i = 0; i < cut.size(); i += 3) EXPECT_EQ(static_cast<unsigned char>(cut[i]), 0xE2);
}

// WCHAR is UTF-16: a character outside the Basic Multilingual Plane is a
// surrogate pair (four bytes in the emulated ANSI code page, UTF-8), and a
// cut never leaves its first half behind, even where that half alone (as
// U+FFFD, three bytes) would still fit.
TEST_F(DeviceCatalogueTest, LongNamesAreNeverCutInsideASurrogatePair) {
    const std::wstring camera = L"\U0001F4F7";
    CreateWith({Named((std::wstring(76, L'x') + camera + L"y").c_str()),
                Named((std::wstring(75, L'x') + camera + L"y").c_str()), Named((L"Cam " + camera).c_str())});
    EXPECT_EQ(NameAt(0), std::string(76, 'x')) << "the pair does not fit: it goes whole";
    EXPECT_EQ(NameAt(1), std::string(75, 'x') + "\xF0\x9F\x93\xB7") << "the pair fits in the 79 bytes";
    EXPECT_EQ(NameAt(2), "Cam \xF0\x9F\x93\xB7") << "a short name converts whole";
}

TEST_F(DeviceCatalogueTest, EnumerationFailuresLeaveWhatWasListed) {
    emu::ClearDevices();
    emu::RegisterDevice(Named(L"A"));
    emu::RegisterDevice(Named(L"B"));
    emu::RegisterDevice(Named(L"C"));

    struct Case {
        emu::Call call;
        int occurrence;
        int expected_count;
    } cases[] = {
        {emu::Call::CoCreateInstance, 1, 0},       // no system device enumerator
        {emu::Call::CreateClassEnumerator, 1, 0},  // no category enumerator
        {emu::Call::EnumMonikerNext, 2, 1},        // the walk ends after the first device
        {emu::Call::BindToStorage, 2, 2},          // the second device is left out
        {emu::Call::LibraryAlloc, 1, 2},           // no record: that device is skipped
        {emu::Call::PropertyBagRead, 1, 3},        // the first name is unreadable, still listed
        {emu::Call::WideCharToMultiByte, 1, 3},
        {emu::Call::CLSIDFromString, 1, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(emu::CallName(c.call));
        emu::ClearFaults();
        emu::FailCall(c.call, E_FAIL, c.occurrence);
        ASSERT_EQ(KOVICCreate(), 1);
        EXPECT_EQ(KOVICGetVideoDeviceCount(), c.expected_count);
        EXPECT_EQ(emu::FaultsFired(), 1);
    }
}

}  // namespace
