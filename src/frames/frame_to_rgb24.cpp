// Frame to RGB24: sizes, the pixel-by-pixel reference, the scalar row kernels
// and the frame driver that runs a kernel set over the rows. Stateless apart
// from the kernel set chosen on first use; any thread.
#include "frames/frame_to_rgb24.h"

#include <cstring>

#include "frames/frame_to_rgb24_rows.h"
#include "platform/cpu_features.h"

namespace kovic {

namespace {

constexpr uint64_t kMaxFrameBytes = 0x7FFFFFFF;

inline uint8_t Clamp(int value) {
    return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// The chroma part of each channel's sum, bias and rounding included. The
// shifts of negative products floor (arithmetic shift, as every supported
// compiler does), which is what the vector multiply-highs give.
struct ChromaTerms {
    int red, green, blue;
};

inline ChromaTerms ChromaOf(int u_sample, int v_sample) {
    const int u = u_sample - 128;
    const int v = v_sample - 128;
    return {((v * kRedVMultiplier) >> 8) + kBiasAndRounding,
            kBiasAndRounding - ((u * kGreenUMultiplier) >> 8) - ((v * kGreenVMultiplier) >> 8),
            ((u * kBlueUMultiplier) >> 8) + kBiasAndRounding};
}

inline void StorePixel(int y_sample, const ChromaTerms &c, uint8_t *rgb) {
    const int luma = (y_sample * kLumaMultiplier) >> 8;
    rgb[0] = Clamp((luma + c.blue) >> kFractionBits);
    rgb[1] = Clamp((luma + c.green) >> kFractionBits);
    rgb[2] = Clamp((luma + c.red) >> kFractionBits);
}

// Everything the walk needs about one frame; valid only when Measure says so.
struct Geometry {
    size_t width = 0;
    size_t rows = 0;            // |height|
    size_t chroma_width = 0;    // (width + 1) / 2
    size_t chroma_rows = 0;     // (rows + 1) / 2
    size_t out_stride = 0;      // padded RGB24 row
    size_t source_bytes = 0;
};

bool IsConvertible(FrameFormat format) {
    switch (format) {
    case FrameFormat::kRgb32:
    case FrameFormat::kYuy2:
    case FrameFormat::kUyvy:
    case FrameFormat::kNv12:
    case FrameFormat::kI420:
    case FrameFormat::kYv12: return true;
    case FrameFormat::kUnknown:
    case FrameFormat::kRgb24:
    case FrameFormat::kMjpg: break;
    }
    return false;
}

bool Measure(FrameFormat format, int32_t width, int32_t height, Geometry *g) {
    if (!IsConvertible(format) || width <= 0 || height == 0 || height == INT32_MIN) return false;
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    const uint64_t chroma_width = (w + 1) / 2;
    const uint64_t chroma_rows = (rows + 1) / 2;
    const uint64_t out_stride = (w * 3 + 3) & ~static_cast<uint64_t>(3);
    // Both factors are below 2^33, so no product here wraps 64 bits.
    if (out_stride * rows > kMaxFrameBytes) return false;
    uint64_t bytes = 0;
    switch (format) {
    case FrameFormat::kRgb32: bytes = 4 * w * rows; break;
    case FrameFormat::kYuy2:
    case FrameFormat::kUyvy: bytes = 4 * chroma_width * rows; break;
    case FrameFormat::kNv12:
    case FrameFormat::kI420:
    case FrameFormat::kYv12: bytes = w * rows + 2 * chroma_width * chroma_rows; break;
    case FrameFormat::kUnknown:
    case FrameFormat::kRgb24:
    case FrameFormat::kMjpg: return false;
    }
    if (bytes > kMaxFrameBytes) return false;
    g->width = static_cast<size_t>(w);
    g->rows = static_cast<size_t>(rows);
    g->chroma_width = static_cast<size_t>(chroma_width);
    g->chroma_rows = static_cast<size_t>(chroma_rows);
    g->out_stride = static_cast<size_t>(out_stride);
    g->source_bytes = static_cast<size_t>(bytes);
    return true;
}

bool Admit(FrameFormat format, const uint8_t *source, size_t source_bytes, int32_t width, int32_t height,
           const uint8_t *destination, size_t destination_bytes, Geometry *g) {
    if (source == nullptr || destination == nullptr) return false;
    if (!Measure(format, width, height, g)) return false;
    return source_bytes >= g->source_bytes && destination_bytes >= g->out_stride * g->rows;
}

// Where the chroma planes of a 4:2:0 frame begin.
struct ChromaPlanes {
    const uint8_t *u;
    const uint8_t *v;
};

ChromaPlanes PlanesOf(FrameFormat format, const uint8_t *source, const Geometry &g) {
    const uint8_t *first = source + g.width * g.rows;
    const uint8_t *second = first + g.chroma_width * g.chroma_rows;
    if (format == FrameFormat::kYv12) return {second, first};
    return {first, second};
}

}  // namespace

size_t Rgb24RowBytes(int32_t width) {
    if (width <= 0) return 0;
    const uint64_t bytes = (static_cast<uint64_t>(width) * 3 + 3) & ~static_cast<uint64_t>(3);
    return bytes > kMaxFrameBytes ? 0 : static_cast<size_t>(bytes);
}

size_t SourceFrameBytes(FrameFormat format, int32_t width, int32_t height) {
    Geometry g;
    return Measure(format, width, height, &g) ? g.source_bytes : 0;
}

bool ConvertFrameToRgb24Reference(FrameFormat format, const uint8_t *source, size_t source_bytes, int32_t width,
                                  int32_t height, uint8_t *destination, size_t destination_bytes) {
    Geometry g;
    if (!Admit(format, source, source_bytes, width, height, destination, destination_bytes, &g)) return false;
    const size_t packed_stride = 4 * g.chroma_width;
    const ChromaPlanes planes = PlanesOf(format, source, g);
    const uint8_t *uv_plane = source + g.width * g.rows;
    // r counts source rows from the top of the picture; the output puts the
    // top in its last row.
    for (size_t r = 0; r < g.rows; ++r) {
        uint8_t *out = destination + g.out_stride * (g.rows - 1 - r);
        for (size_t x = 0; x < g.width; ++x) {
            const size_t pair = x / 2;
            uint8_t *pixel = out + 3 * x;
            switch (format) {
            case FrameFormat::kRgb32: {
                const size_t memory_row = height > 0 ? g.rows - 1 - r : r;
                const uint8_t *bgrx = source + 4 * g.width * memory_row + 4 * x;
                pixel[0] = bgrx[0];
                pixel[1] = bgrx[1];
                pixel[2] = bgrx[2];
                break;
            }
            case FrameFormat::kYuy2: {
                const uint8_t *row = source + packed_stride * r;
                StorePixel(row[2 * x], ChromaOf(row[4 * pair + 1], row[4 * pair + 3]), pixel);
                break;
            }
            case FrameFormat::kUyvy: {
                const uint8_t *row = source + packed_stride * r;
                StorePixel(row[2 * x + 1], ChromaOf(row[4 * pair], row[4 * pair + 2]), pixel);
                break;
            }
            case FrameFormat::kNv12: {
                const uint8_t *uv = uv_plane + 2 * g.chroma_width * (r / 2);
                StorePixel(source[g.width * r + x], ChromaOf(uv[2 * pair], uv[2 * pair + 1]), pixel);
                break;
            }
            case FrameFormat::kI420:
            case FrameFormat::kYv12: {
                const size_t chroma = g.chroma_width * (r / 2) + pair;
                StorePixel(source[g.width * r + x], ChromaOf(planes.u[chroma], planes.v[chroma]), pixel);
                break;
            }
            case FrameFormat::kUnknown:
            case FrameFormat::kRgb24:
            case FrameFormat::kMjpg: return false;  // refused by Admit
            }
        }
        std::memset(out + 3 * g.width, 0, g.out_stride - 3 * g.width);
    }
    return true;
}

void Yuy2ToRgb24Row_C(const uint8_t *source, uint8_t *rgb, int width) {
    int x = 0;
    for (; x + 1 < width; x += 2, source += 4, rgb += 6) {
        const ChromaTerms c = ChromaOf(source[1], source[3]);
        StorePixel(source[0], c, rgb);
        StorePixel(source[2], c, rgb + 3);
    }
    if (x < width) StorePixel(source[0], ChromaOf(source[1], source[3]), rgb);
}

void UyvyToRgb24Row_C(const uint8_t *source, uint8_t *rgb, int width) {
    int x = 0;
    for (; x + 1 < width; x += 2, source += 4, rgb += 6) {
        const ChromaTerms c = ChromaOf(source[0], source[2]);
        StorePixel(source[1], c, rgb);
        StorePixel(source[3], c, rgb + 3);
    }
    if (x < width) StorePixel(source[1], ChromaOf(source[0], source[2]), rgb);
}

void Nv12ToRgb24Row_C(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width) {
    int x = 0;
    for (; x + 1 < width; x += 2, y += 2, uv += 2, rgb += 6) {
        const ChromaTerms c = ChromaOf(uv[0], uv[1]);
        StorePixel(y[0], c, rgb);
        StorePixel(y[1], c, rgb + 3);
    }
    if (x < width) StorePixel(y[0], ChromaOf(uv[0], uv[1]), rgb);
}

void PlanarToRgb24Row_C(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width) {
    int x = 0;
    for (; x + 1 < width; x += 2, y += 2, ++u, ++v, rgb += 6) {
        const ChromaTerms c = ChromaOf(*u, *v);
        StorePixel(y[0], c, rgb);
        StorePixel(y[1], c, rgb + 3);
    }
    if (x < width) StorePixel(y[0], ChromaOf(*u, *v), rgb);
}

void Rgb32ToRgb24Row_C(const uint8_t *bgrx, uint8_t *rgb, int width) {
    for (int x = 0; x < width; ++x, bgrx += 4, rgb += 3) {
        rgb[0] = bgrx[0];
        rgb[1] = bgrx[1];
        rgb[2] = bgrx[2];
    }
}

FrameToRgb24Kernels ScalarFrameToRgb24Kernels() {
    return {Yuy2ToRgb24Row_C, UyvyToRgb24Row_C, Nv12ToRgb24Row_C, PlanarToRgb24Row_C, Rgb32ToRgb24Row_C, 1, "C"};
}

bool ConvertFrameToRgb24With(const FrameToRgb24Kernels &kernels, FrameFormat format, const uint8_t *source,
                             size_t source_bytes, int32_t width, int32_t height, uint8_t *destination,
                             size_t destination_bytes) {
    Geometry g;
    if (!Admit(format, source, source_bytes, width, height, destination, destination_bytes, &g)) return false;
    // The vector kernel takes the row's first `bulk` pixels (a whole number of
    // steps, so even), the scalar kernel the rest.
    const int bulk = width - width % kernels.step;
    const int tail = width - bulk;
    const size_t b = static_cast<size_t>(bulk);
    const size_t packed_stride = 4 * g.chroma_width;
    const ChromaPlanes planes = PlanesOf(format, source, g);
    // The output is written in address order (the processor's prefetch
    // follows ascending streams best), so source rows go from the picture's
    // bottom up: r counts them from the top.
    for (size_t d = 0; d < g.rows; ++d) {
        const size_t r = g.rows - 1 - d;
        uint8_t *out = destination + g.out_stride * d;
        switch (format) {
        case FrameFormat::kRgb32: {
            const size_t memory_row = height > 0 ? g.rows - 1 - r : r;
            const uint8_t *row = source + 4 * g.width * memory_row;
            if (bulk > 0) kernels.rgb32_row(row, out, bulk);
            if (tail > 0) Rgb32ToRgb24Row_C(row + 4 * b, out + 3 * b, tail);
            break;
        }
        case FrameFormat::kYuy2:
        case FrameFormat::kUyvy: {
            const bool yuy2 = format == FrameFormat::kYuy2;
            const uint8_t *row = source + packed_stride * r;
            if (bulk > 0) (yuy2 ? kernels.yuy2_row : kernels.uyvy_row)(row, out, bulk);
            if (tail > 0) (yuy2 ? Yuy2ToRgb24Row_C : UyvyToRgb24Row_C)(row + 2 * b, out + 3 * b, tail);
            break;
        }
        case FrameFormat::kNv12: {
            const uint8_t *y = source + g.width * r;
            const uint8_t *uv = planes.u + 2 * g.chroma_width * (r / 2);
            if (bulk > 0) kernels.nv12_row(y, uv, out, bulk);
            if (tail > 0) Nv12ToRgb24Row_C(y + b, uv + b, out + 3 * b, tail);
            break;
        }
        case FrameFormat::kI420:
        case FrameFormat::kYv12: {
            const uint8_t *y = source + g.width * r;
            const uint8_t *u = planes.u + g.chroma_width * (r / 2);
            const uint8_t *v = planes.v + g.chroma_width * (r / 2);
            if (bulk > 0) kernels.planar_row(y, u, v, out, bulk);
            if (tail > 0) PlanarToRgb24Row_C(y + b, u + b / 2, v + b / 2, out + 3 * b, tail);
            break;
        }
        case FrameFormat::kUnknown:
        case FrameFormat::kRgb24:
        case FrameFormat::kMjpg: return false;  // refused by Admit
        }
        for (size_t pad = 3 * g.width; pad < g.out_stride; ++pad) out[pad] = 0;
    }
    return true;
}

const FrameToRgb24Kernels &FrameToRgb24KernelsInUse() {
    // Chosen once, on first use; the initialisation of a function-local static
    // is thread-safe.
    static const FrameToRgb24Kernels kernels = SelectFrameToRgb24Kernels(CpuFeatures());
    return kernels;
}

bool ConvertFrameToRgb24(FrameFormat format, const uint8_t *source, size_t source_bytes, int32_t width,
                         int32_t height, uint8_t *destination, size_t destination_bytes) {
    return ConvertFrameToRgb24With(FrameToRgb24KernelsInUse(), format, source, source_bytes, width, height,
                                   destination, destination_bytes);
}

}  // namespace kovic
