// Picks the RGB24 to I420 row kernels on processors without vector kernels:
// always the table-driven ones. Stateless.
#include "frames/rgb_to_i420_rows.h"

namespace kovic {

Rgb24ToI420Kernels SelectRgb24ToI420Kernels(uint32_t) { return TableRgb24ToI420Kernels(); }

}  // namespace kovic
