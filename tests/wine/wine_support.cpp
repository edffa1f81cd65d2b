// Helpers of the end-to-end tests; test thread only.
#include "wine_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "../support/virtual_camera_win32.h"

namespace kovic_wine {

const char kMainCamera[] = "Kovic Test Camera";
const char kStubbornCamera[] = "Kovic Stubborn Camera";
const char kBrokenCamera[] = "Kovic Broken Camera";
const char kShortFrameCamera[] = "Kovic Short-Frame Camera";
const char kPreviewFirstCamera[] = "Kovic Preview-First Camera";
const char kWideCapsCamera[] = "Kovic Wide-Caps Camera";
const char kYuy2Camera[] = "Kovic YUY2 Camera";
const char kUyvyCamera[] = "Kovic UYVY Camera";
const char kNv12Camera[] = "Kovic NV12 Camera";
const char kI420Camera[] = "Kovic I420 Camera";
const char kYv12Camera[] = "Kovic YV12 Camera";
const char kRgb32Camera[] = "Kovic RGB32 Camera";
const char kMixedCamera[] = "Kovic Mixed Camera";
const char kNv12SizeCamera[] = "Kovic NV12-Size Camera";
const char kUncategorisedCamera[] = "Kovic Uncategorised Camera";
const char kMjpg720Camera[] = "Kovic MJPG 720p Camera";
const char kMjpg1080Camera[] = "Kovic MJPG 1080p Camera";
const char kCorruptMjpgCamera[] = "Kovic Corrupt MJPG Camera";
const char kDefaultCamera[] = "Kovic Virtual Camera";
const char kFarPlaneCamera[] = "Kovic Far-Plane Camera, whose name runs on past eighty bytes to end in a sign ";

bool UnderEmulation() {
    const char *emulator = std::getenv("KOVIC_I386_EMULATOR");
    return emulator != nullptr && emulator[0] != 0;
}

std::string ProcessTempPath(const char *stem) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + stem + std::to_string(GetCurrentProcessId());
}

std::vector<std::string> CatalogueNames() {
    std::vector<std::string> names;
    int count = KOVICGetVideoDeviceCount();
    for (int i = 0; i < count; ++i) {
        char name[KOVIC_DEVICE_NAME_BYTES];
        if (KOVICGetVideoDevice(i, name) != KOVIC_OK) break;
        names.emplace_back(name, strnlen(name, sizeof(name)));
    }
    return names;
}

int DeviceIndex(const char *name) {
    std::vector<std::string> names = CatalogueNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return static_cast<int>(i);
    }
    return -1;
}

int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// Wine 8 answers GetProcessHandleCount with success and a count of 0, so the
// handles are counted in the system's handle table instead.
DWORD HandleCount() {
    struct HandleEntry {
        ULONG owner_process;
        BYTE object_type;
        BYTE flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    struct HandleTable {
        ULONG count;
        HandleEntry entries[1];
    };
    const auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
    std::vector<char> buffer(1 << 20);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        NTSTATUS status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                                   static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto *table = reinterpret_cast<const HandleTable *>(buffer.data());
            DWORD self = GetCurrentProcessId(), count = 0;
            for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].owner_process == self ? 1 : 0;
            return count;
        }
        buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
    }
    return 0;
}

long VirtualCameraObjects() { return kovic_test::VirtualCameraObjects(); }

DWORD PlatformHandleGrowth(const std::vector<int> &device_indices) {
    DWORD before = HandleCount();
    for (int index : device_indices) {
        ICreateDevEnum *devices = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                       reinterpret_cast<void **>(&devices)))) {
            IEnumMoniker *monikers = nullptr;
            devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
            devices->Release();
            if (monikers != nullptr) {
                IMoniker *moniker = nullptr;
                ULONG fetched = 0;
                for (int position = 0; position <= index && monikers->Next(1, &moniker, &fetched) == S_OK; ++position) {
                    moniker->Release();
                }
                monikers->Release();
            }
        }
        IGraphBuilder *graph = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                       reinterpret_cast<void **>(&graph)))) {
            graph->Release();
        }
    }
    DWORD after = HandleCount();
    return after > before ? after - before : 0;
}

vcam::DecodedPattern DecodeDeliveredFrame(int32_t width, int32_t height, const unsigned char *data) {
    vcam::VideoFormat format;
    format.pixel = vcam::PixelFormat::kRgb24;
    format.width = width;
    format.height = height;
    return vcam::DecodePattern(vcam::LumaOfFrame(format, data), width, height < 0 ? -height : height);
}

vcam::LumaAt LumaOfConvertedFrame(const unsigned char *i420, int width, int height, bool source_bottom_up) {
    // Output pixel n comes from source pixel n counted from the end.
    if (source_bottom_up) {
        return [=](int x, int y) { return static_cast<int>(i420[static_cast<size_t>(y) * width + (width - 1 - x)]); };
    }
    return [=](int x, int y) {
        return static_cast<int>(i420[static_cast<size_t>(height - 1 - y) * width + (width - 1 - x)]);
    };
}

std::vector<unsigned char> ReadWholeFile(const std::string &name) {
    std::ifstream file(name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> SaveAndCheckBitmap(KOVIC_SESSION session, const FrameMessage &frame, const char *stem) {
    const std::string name = ProcessTempPath(stem) + ".bmp";
    if (KOVICSaveSingleFrameBitmap(session, name.c_str(), frame.descriptor) != 1) {
        ADD_FAILURE() << "the frame was not saved";
        return {};
    }
    std::vector<unsigned char> file = ReadWholeFile(name);
    DeleteFileA(name.c_str());
    if (file.size() != static_cast<size_t>(frame.length) + 54) {
        ADD_FAILURE() << "a file of " << file.size() << " bytes for a frame of " << frame.length;
        return {};
    }
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), static_cast<uint32_t>(frame.length) + 54);
    EXPECT_EQ(U32(file, 6), 0u);
    EXPECT_EQ(U32(file, 10), 54u) << "pixels follow the two headers";
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(static_cast<int32_t>(U32(file, 18)), frame.width);
    EXPECT_EQ(static_cast<int32_t>(U32(file, 22)), frame.height) << "the height keeps its sign";
    EXPECT_EQ(U16(file, 26), 1);
    EXPECT_EQ(U16(file, 28), 24);
    for (size_t at = 30; at < 54; ++at) EXPECT_EQ(file[at], 0) << "header byte " << at << " (uncompressed, no palette)";
    EXPECT_EQ(std::memcmp(file.data() + 54, frame.data, static_cast<size_t>(frame.length)), 0)
        << "the pixel bytes are the frame's, unchanged";
    return file;
}

uint32_t U32(const std::vector<unsigned char> &bytes, size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

uint16_t U16(const std::vector<unsigned char> &bytes, size_t at) {
    uint16_t v;
    std::memcpy(&v, bytes.data() + at, 2);
    return v;
}

}  // namespace kovic_wine
