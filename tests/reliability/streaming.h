// What the walks need of devices that make their own frames: marking a device
// to stream from its own thread while its graph runs, and the picture such a
// device draws as frame n. The emulated platform of this tree pushes samples
// only through emu::DeliverSample, so no device of a walk streams. Where the
// platform's devices can stream (emu::SimulatedDevice::streams_test_pattern,
// emu::DrawTestPattern), set kDevicesCanStream and let the two functions use
// them: walks then give some devices a streaming thread, wait after each
// action for the frame a running, armed sink is owed, and check it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/emulated/host_api.h"

namespace walk {

constexpr bool kDevicesCanStream = false;

inline void MakeStreaming(emu::SimulatedDevice *device) { (void)device; }

// False when the picture is not known: the frame's bytes are then not checked.
inline bool DrawStreamedFrame(const emu::SimulatedFormat &format, uint32_t frame_number, uint8_t *out,
                              size_t bytes) {
    (void)format;
    (void)frame_number;
    (void)out;
    (void)bytes;
    return false;
}

}  // namespace walk
