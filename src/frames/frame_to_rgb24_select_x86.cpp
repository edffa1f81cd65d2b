// Picks the frame to RGB24 row kernels for an x86 processor. Stateless.
#include "frames/frame_to_rgb24_rows.h"
#include "platform/cpu_features.h"

namespace kovic {

FrameToRgb24Kernels SelectFrameToRgb24Kernels(uint32_t) { return ScalarFrameToRgb24Kernels(); }

}  // namespace kovic
