// What the walks need of devices that make their own frames: marking a device
// to stream from its own thread while its graph runs, and the picture such a
// device draws as frame n. Walks give some devices a streaming thread, wait
// after each action for the frame a running, armed sink is owed, and check it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/emulated/host_api.h"

namespace walk {

constexpr bool kDevicesCanStream = true;

inline void MakeStreaming(emu::SimulatedDevice *device) { device->streams_test_pattern = true; }

// False when the picture is not known: the frame's bytes are then not checked.
inline bool DrawStreamedFrame(const emu::SimulatedFormat &format, uint32_t frame_number, uint8_t *out,
                              size_t bytes) {
    return emu::DrawTestPattern(format, frame_number, out, bytes);
}

// The sample a streaming device sends as frame n: the drawn picture, or for
// MJPG the encoded one, of its own length and corrupt where the device
// corrupts frames. False when it is not known.
inline bool StreamedSample(const emu::SimulatedDevice &device, const emu::SimulatedFormat &format,
                           uint32_t frame_number, std::vector<uint8_t> *sample) {
    sample->assign(emu::FrameBytes(format), 0);
    if (!IsEqualGUID(format.subtype, MEDIASUBTYPE_MJPG)) {
        return DrawStreamedFrame(format, frame_number, sample->data(), sample->size());
    }
    size_t length =
        emu::EncodeTestPatternJpeg(format, frame_number, device.jpeg_huffman_tables, sample->data(), sample->size());
    length = emu::CorruptJpegFrame(frame_number, device.corrupt_jpeg_every, sample->data(), length);
    sample->resize(length);
    return length > 0;
}

}  // namespace walk
