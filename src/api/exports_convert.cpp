// The conversion export: no session, any thread.
#include "frames/rgb_to_yuv.h"
#include "kovic.h"

extern "C" KOVIC_API int KOVIC_CALL KOVICGetYuvFrame(unsigned char *destination, const unsigned char *source,
                                                     int width, int height, int source_length) {
    return kovic::ConvertRgb24ToI420(destination, source, width, height, source_length);
}
