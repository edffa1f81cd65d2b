// The picture a streaming simulated device delivers: eight colour bars that
// move left by four pixels a frame, and the frame number in six digits at the
// top left. One TestPattern per format and per user: it keeps scratch rows, so
// Draw allocates nothing and is not to be shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/emulated/host_api.h"

namespace emu {

class TestPattern {
public:
    explicit TestPattern(const SimulatedFormat &format);

    size_t frame_bytes() const { return frame_bytes_; }
    // Fills exactly frame_bytes() bytes; false (and nothing written) when
    // `bytes` is not that, or the format makes no picture.
    bool Draw(uint32_t frame_number, BYTE *out, size_t bytes);

    enum class Layout { kRgb24, kRgb32, kI420, kYv12, kNv12, kYuy2, kUyvy };

private:
    struct Rgb {
        BYTE r, g, b;
    };

    // Colour of each column of a row outside the counter, for frame n.
    void FillBarRow(uint32_t frame_number);
    // True where the counter box covers picture row y; `lit` then says, for
    // each column inside the box, whether it is a stroke of a digit.
    bool CounterRow(uint32_t frame_number, int32_t y, std::vector<uint8_t> *lit) const;
    void DrawRgb(uint32_t frame_number, BYTE *out);
    void DrawPlanar(uint32_t frame_number, BYTE *out);
    void DrawPacked(uint32_t frame_number, BYTE *out);

    Layout layout_;
    int32_t width_;
    int32_t rows_;
    bool bottom_up_;
    size_t frame_bytes_;
    int32_t scale_;      // pixels per cell of the digit font; 0: no counter
    int32_t box_width_;  // pixels
    std::vector<Rgb> bar_row_;
    std::vector<BYTE> packed_row_;
    std::vector<BYTE> packed_u_;
    std::vector<BYTE> packed_v_;
    std::vector<uint8_t> lit_;
};

}  // namespace emu
