// What the preview window shows, read back for the preview window test: finds
// the virtual camera's picture in a screenshot of the window (binary PPM, as
// ImageMagick's import writes it) or in a BMP snapshot, checks that it is the
// camera's picture at 1:1, upright and not mirrored, and prints its frame
// counter. It also closes the preview window as its close box does.
//
//   preview_window_probe decode FILE WIDTH HEIGHT
//       prints "counter C tag T at X,Y" and exits 0, or says what is wrong and exits 1
//   preview_window_probe close
//       posts WM_CLOSE to the preview window; exits 1 when there is none
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_pattern.h"

namespace {

// The window class kovic-preview registers.
const char kPreviewWindowClass[] = "KovicPreviewWindow";
// Largest difference per colour channel still taken as the camera's colour:
// the window shows the frame unconverted, so only a stray rounding is allowed.
const int kChannelTolerance = 12;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<vcam::Rgb> pixels;  // top row first
    const vcam::Rgb &At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

bool ReadWholeFile(const char *path, std::vector<unsigned char> *bytes) {
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
    std::fclose(file);
    return true;
}

// Binary PPM of 8-bit samples: "P6", width, height and 255 as decimal text
// separated by white space (with # comments), one white-space byte, then RGB
// samples of one byte each.
bool ParsePpm(const std::vector<unsigned char> &bytes, Image *image) {
    size_t at = 2;
    auto next_number = [&](long *value) {
        for (;;) {
            while (at < bytes.size() && std::isspace(bytes[at])) ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n') ++at;
                continue;
            }
            break;
        }
        if (at >= bytes.size() || !std::isdigit(bytes[at])) return false;
        *value = 0;
        while (at < bytes.size() && std::isdigit(bytes[at]) && *value < 1000000) *value = *value * 10 + (bytes[at++] - '0');
        return true;
    };
    long width = 0, height = 0, max_value = 0;
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') return false;
    if (!next_number(&width) || !next_number(&height) || !next_number(&max_value)) return false;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || max_value != 255) return false;
    ++at;  // the single white-space byte before the samples
    if (at > bytes.size() || bytes.size() - at < static_cast<size_t>(width) * height * 3) return false;
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->pixels.resize(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < image->pixels.size(); ++i, at += 3) image->pixels[i] = {bytes[at], bytes[at + 1], bytes[at + 2]};
    return true;
}

uint32_t LittleEndian(const std::vector<unsigned char> &bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[at + i];
    return value;
}

// An uncompressed 24-bit BMP: BGR rows padded to 4 bytes, bottom row first
// for a positive height.
bool ParseBmp(const std::vector<unsigned char> &bytes, Image *image) {
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    uint32_t data_offset = LittleEndian(bytes, 10, 4);
    int32_t width = static_cast<int32_t>(LittleEndian(bytes, 18, 4));
    int32_t height = static_cast<int32_t>(LittleEndian(bytes, 22, 4));
    if (LittleEndian(bytes, 28, 2) != 24 || LittleEndian(bytes, 30, 4) != BI_RGB) return false;
    int32_t rows = height < 0 ? -height : height;
    if (width <= 0 || rows <= 0 || width > 16384 || rows > 16384) return false;
    size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    if (data_offset > bytes.size() || bytes.size() - data_offset < stride * rows) return false;
    image->width = width;
    image->height = rows;
    image->pixels.resize(static_cast<size_t>(width) * rows);
    for (int y = 0; y < rows; ++y) {
        size_t row = height > 0 ? static_cast<size_t>(rows - 1 - y) : static_cast<size_t>(y);
        const unsigned char *p = &bytes[data_offset + row * stride];
        for (int x = 0; x < width; ++x, p += 3) image->pixels[static_cast<size_t>(y) * width + x] = {p[2], p[1], p[0]};
    }
    return true;
}

// How a picture may sit in the image.
enum class Orientation { kUpright, kMirrored, kUpsideDown, kTurned };
const char *const kOrientationNames[] = {"upright", "mirrored left to right", "upside down",
                                         "turned half a circle"};

// Luma of picture point (x, y) of a width x height picture placed at (left, top).
vcam::LumaAt PictureLuma(const Image &image, int left, int top, int width, int height, Orientation orientation) {
    return [&image, left, top, width, height, orientation](int x, int y) {
        if (orientation == Orientation::kMirrored || orientation == Orientation::kTurned) x = width - 1 - x;
        if (orientation == Orientation::kUpsideDown || orientation == Orientation::kTurned) y = height - 1 - y;
        return vcam::LumaOf(image.At(left + x, top + y));
    };
}

bool CloseTo(const vcam::Rgb &a, const vcam::Rgb &b) {
    return std::abs(a.r - b.r) <= kChannelTolerance && std::abs(a.g - b.g) <= kChannelTolerance &&
           std::abs(a.b - b.b) <= kChannelTolerance;
}

// Below the code row every pixel of the camera's picture is known: the colour
// bars and the orientation marker. Counts the pixels that differ (a scaled,
// shifted, torn or channel-swapped picture) and describes the first.
long BackgroundMismatches(const Image &image, int left, int top, int width, int height, std::string *first) {
    long mismatches = 0;
    for (int y = vcam::kCodeBlockPixels; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            vcam::Rgb expected = vcam::BackgroundColour(x, y, width);
            const vcam::Rgb &seen = image.At(left + x, top + y);
            if (CloseTo(seen, expected)) continue;
            if (mismatches++ == 0) {
                char text[160];
                std::snprintf(text, sizeof(text), "picture point (%d, %d) is (%d, %d, %d), not (%d, %d, %d)", x, y,
                              seen.r, seen.g, seen.b, expected.r, expected.g, expected.b);
                *first = text;
            }
        }
    }
    return mismatches;
}

// Finds a width x height picture of the camera in `image` in the given
// orientation, the top-most then left-most placement first.
bool FindPicture(const Image &image, int width, int height, Orientation orientation, int *left, int *top,
                 vcam::DecodedPattern *pattern) {
    for (int y = 0; y + height <= image.height; ++y) {
        for (int x = 0; x + width <= image.width; ++x) {
            vcam::DecodedPattern decoded =
                vcam::DecodePattern(PictureLuma(image, x, y, width, height, orientation), width, height);
            if (decoded.valid) {
                *left = x;
                *top = y;
                *pattern = decoded;
                return true;
            }
        }
    }
    return false;
}

int Decode(const char *path, int width, int height) {
    std::vector<unsigned char> bytes;
    Image image;
    if (!ReadWholeFile(path, &bytes)) {
        std::printf("cannot read %s\n", path);
        return 1;
    }
    if (!ParsePpm(bytes, &image) && !ParseBmp(bytes, &image)) {
        std::printf("%s is neither a binary PPM nor a 24-bit BMP\n", path);
        return 1;
    }
    int left = 0, top = 0;
    vcam::DecodedPattern pattern;
    if (!FindPicture(image, width, height, Orientation::kUpright, &left, &top, &pattern)) {
        for (int o = 1; o < 4; ++o) {
            if (FindPicture(image, width, height, static_cast<Orientation>(o), &left, &top, &pattern)) {
                std::printf("the camera's picture is %s (at %d,%d of the %dx%d image)\n", kOrientationNames[o], left,
                            top, image.width, image.height);
                return 1;
            }
        }
        std::printf("no %dx%d picture of the camera in the %dx%d image\n", width, height, image.width, image.height);
        return 1;
    }
    std::string first;
    long mismatches = BackgroundMismatches(image, left, top, width, height, &first);
    if (mismatches > 0) {
        std::printf("the picture at %d,%d differs from the camera's in %ld pixels; %s\n", left, top, mismatches,
                    first.c_str());
        return 1;
    }
    std::printf("counter %u tag %u at %d,%d\n", pattern.counter, pattern.tag, left, top);
    return 0;
}

int Close() {
    HWND window = FindWindowA(kPreviewWindowClass, nullptr);
    if (window == nullptr) {
        std::printf("no preview window\n");
        return 1;
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::printf("closed\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "decode") == 0) {
        return Decode(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (argc == 2 && std::strcmp(argv[1], "close") == 0) return Close();
    std::fprintf(stderr, "usage: %s decode FILE WIDTH HEIGHT | close\n", argv[0]);
    return 2;
}
