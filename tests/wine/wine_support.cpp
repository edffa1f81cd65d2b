// Helpers of the end-to-end tests; test thread only.
#include "wine_support.h"

#include <tlhelp32.h>

#include <cstring>

namespace kovic_wine {

const char kMainCamera[] = "Kovic Test Camera";
const char kStubbornCamera[] = "Kovic Stubborn Camera";
const char kBrokenCamera[] = "Kovic Broken Camera";
const char kShortFrameCamera[] = "Kovic Short-Frame Camera";
const char kPreviewFirstCamera[] = "Kovic Preview-First Camera";
const char kDefaultCamera[] = "Kovic Virtual Camera";

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

DWORD HandleCount() {
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return 0;
    return count;
}

long VirtualCameraObjects() {
    HMODULE module = GetModuleHandleA("kovic-vcam.dll");
    if (module == nullptr) return 0;
    using Counter = LONG(WINAPI *)();
    auto counter = reinterpret_cast<Counter>(reinterpret_cast<void *>(GetProcAddress(module, "VcamLiveObjectCount")));
    return counter != nullptr ? counter() : -1;
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

}  // namespace kovic_wine
