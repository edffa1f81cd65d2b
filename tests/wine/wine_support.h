// Helpers of the end-to-end tests: the catalogue by name, the process's
// threads and handles, the virtual camera's live objects, and frame pictures.
// Test thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "device_profile.h"
#include "host_window.h"
#include "kovic.h"
#include "test_pattern.h"

namespace kovic_wine {

// Friendly names of the test devices (tools/vcam/tests/devices.reg), and the
// default device that registering the DLL adds.
extern const char kMainCamera[];
extern const char kStubbornCamera[];
extern const char kBrokenCamera[];
extern const char kShortFrameCamera[];
extern const char kPreviewFirstCamera[];
extern const char kWideCapsCamera[];
// Cameras of one pixel format each (640x480 first, then 178x100).
extern const char kYuy2Camera[];
extern const char kUyvyCamera[];
extern const char kNv12Camera[];
extern const char kI420Camera[];
extern const char kYv12Camera[];
extern const char kRgb32Camera[];
// YUY2 640x480 first, then RGB24 320x240.
extern const char kMixedCamera[];
// RGB24 and I420 at 320x240, NV12 alone at 640x480.
extern const char kNv12SizeCamera[];
// YUY2 640x480 first, then RGB24 320x240; its pin answers no pin category.
extern const char kUncategorisedCamera[];
// YUY2 640x480@30 first, then MJPG 1280x720@30 and YUY2 1280x720@10; the same
// at 1920x1080 (YUY2 at 5); and MJPG 640x480@15 alone with the corrupt-jpeg fault.
extern const char kMjpg720Camera[];
extern const char kMjpg1080Camera[];
extern const char kCorruptMjpgCamera[];
extern const char kDefaultCamera[];
// The catalogue's name of the device whose name runs past 80 bytes into a
// character outside the Basic Multilingual Plane: its first 78 characters.
extern const char kFarPlaneCamera[];

// Whether the program runs under user-mode emulation of i386
// (scripts/i386-namespace names its emulator in KOVIC_I386_EMULATOR, and Wine
// hands the environment on), where machine code runs many times slower:
// rates and times are then reported, not bounded.
bool UnderEmulation();

// The temporary folder's path followed by stem and this process's id, so
// tests of two processes never share a file.
std::string ProcessTempPath(const char *stem);

// A whole file's bytes (empty when it cannot be read), and the little-endian
// fields of such bytes at a byte offset.
std::vector<unsigned char> ReadWholeFile(const std::string &name);
uint32_t U32(const std::vector<unsigned char> &bytes, size_t at);
uint16_t U16(const std::vector<unsigned char> &bytes, size_t at);

// Saves the frame a message points at with KOVICSaveSingleFrameBitmap and
// checks the file as a test failure would show: the two headers of an
// uncompressed 24-bit bitmap of the frame's size (the height's sign kept),
// then the frame's bytes unchanged. The file's bytes, read back before it is
// deleted; empty when the save failed or the file has the wrong length.
std::vector<unsigned char> SaveAndCheckBitmap(KOVIC_SESSION session, const FrameMessage &frame, const char *stem);

// The catalogue's names, read through the exports.
std::vector<std::string> CatalogueNames();
// Catalogue index of a device, -1 when it is not listed.
int DeviceIndex(const char *name);

// Threads of this process (Toolhelp snapshot), open handles, and the virtual
// camera's live filters and enumerators (0 while its DLL is not loaded).
int ThreadCount();
DWORD HandleCount();
long VirtualCameraObjects();

// Handles that the platform itself leaves behind when the library's device
// and graph calls are made for each of these device indices without the
// library: a device enumeration walked to the index, and a filter graph
// created and released. (Wine 8 keeps two registry keys per enumeration, one
// per moniker fetched, and one event per filter graph.)
DWORD PlatformHandleGrowth(const std::vector<int> &device_indices);

// The pattern of a delivered 24-bit frame as the descriptor describes it
// (rows padded to 4 bytes, a positive height bottom-up).
vcam::DecodedPattern DecodeDeliveredFrame(int32_t width, int32_t height, const unsigned char *data);

// Luma of picture point (x, y) in an I420 frame that KOVICGetYuvFrame made
// from a 24-bit frame stored bottom-up (upright, mirrored) or top-down
// (turned half a circle).
vcam::LumaAt LumaOfConvertedFrame(const unsigned char *i420, int width, int height, bool source_bottom_up);

}  // namespace kovic_wine
