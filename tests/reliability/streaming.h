// What the walks need of devices that make their own frames: marking a device
// to stream from its own thread while its graph runs, and the picture such a
// device draws as frame n. Walks give some devices a streaming thread, wait
// after each action for the frame a running, armed sink is owed, and check it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/emulated/host_api.h"

namespace walk {

constexpr bool kDevicesCanStream = true;

inline void MakeStreaming(emu::SimulatedDevice *device) { device->streams_test_pattern = true; }

// False when the picture is not known: the frame's bytes are then not checked.
inline bool DrawStreamedFrame(const emu::SimulatedFormat &format, uint32_t frame_number, uint8_t *out,
                              size_t bytes) {
    return emu::DrawTestPattern(format, frame_number, out, bytes);
}

}  // namespace walk
