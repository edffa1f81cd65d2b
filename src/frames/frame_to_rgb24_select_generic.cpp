// Picks the frame to RGB24 row kernels on processors without vector kernels:
// always the scalar ones. Stateless.
#include "frames/frame_to_rgb24_rows.h"

namespace kovic {

FrameToRgb24Kernels SelectFrameToRgb24Kernels(uint32_t) { return ScalarFrameToRgb24Kernels(); }

}  // namespace kovic
