// The profile one virtual device runs with: its capability list, the faults it
// shows on demand, and the tag its frames carry. Parsed from the text values
// of the device's registry instance key; pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video_format.h"

namespace vcam {

// Faults a device shows when its profile asks for them.
enum Fault : uint32_t {
    kFaultFailBind = 1u << 0,         // the profile load fails, so binding the device fails
    kFaultIgnoreSetFormat = 1u << 1,  // IAMStreamConfig::SetFormat answers S_OK and changes nothing
    kFaultPreviewPinFirst = 1u << 2,  // output pin 0 is a preview pin, the capture pin comes second
    kFaultShortFrames = 1u << 3,      // every third frame (counter 0, 3, 6...) carries half its bytes
    kFaultNoPinCategory = 1u << 4,    // the output pins answer no pin category (IKsPropertySet knows no property)
    kFaultCorruptJpeg = 1u << 5,      // MJPG frames 3, 10, 17... are cut short, 6, 13, 20... damaged
};

// Frames of the corrupt-jpeg fault, by their counter: one in seven truncated,
// another in seven with damaged entropy-coded data; the other five are whole.
enum class JpegDamage { kNone, kTruncated, kDamaged };
JpegDamage JpegDamageOfFrame(uint32_t counter);

constexpr size_t kMaxFormats = 32;
constexpr uint32_t kMaxTag = 15;  // the frame pattern carries four tag bits
// Frames of a preview pin carry the device's tag with this bit flipped, so a
// host can tell which pin it was connected to.
constexpr uint32_t kPreviewTagBit = 8;
constexpr uint32_t kDefaultFramesPerSecond = 30;

// The capability structure's size the pin reports, and the largest a profile
// may ask for.
constexpr uint32_t kStreamCapsBytes = 128;  // VIDEO_STREAM_CONFIG_CAPS
constexpr uint32_t kMaxStreamCapsBytes = 65536;

struct DeviceProfile {
    std::vector<VideoFormat> formats;  // the first one is the device's format until one is set
    uint32_t faults = 0;
    uint32_t tag = 0;
    // What GetNumberOfCapabilities reports as the capability structure's size,
    // and how many bytes GetStreamCaps writes: the structure, then 0x41 bytes.
    uint32_t stream_caps_bytes = kStreamCapsBytes;
};

// The profile of a device whose instance key carries no profile values.
DeviceProfile DefaultProfile();

// "RGB24 320x240, I420 640x480@15, RGB24 160x-120": subtype (RGB24, RGB32,
// I420, YV12, NV12, YUY2, UYVY or MJPG, any case), width x signed height, optional
// @rate; entries separated by commas. Entries without a rate get
// `default_fps`. False for an empty list, a malformed entry, a format that
// cannot be produced, or more than kMaxFormats.
bool ParseFormatList(const std::wstring &text, uint32_t default_fps, std::vector<VideoFormat> *formats);
// Fault names separated by commas or blanks: fail-bind, ignore-set-format,
// preview-pin-first, short-frames, no-pin-category, corrupt-jpeg. An empty text is no fault;
// an unknown name fails.
bool ParseFaults(const std::wstring &text, uint32_t *faults);
// A decimal number in [minimum, maximum], blanks around it allowed.
bool ParseNumber(const std::wstring &text, uint32_t minimum, uint32_t maximum, uint32_t *value);

}  // namespace vcam
