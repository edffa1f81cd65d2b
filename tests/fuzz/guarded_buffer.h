// Buffers for the fuzz targets whose last byte sits just before an
// inaccessible page, with the unused head of their pages poisoned for
// AddressSanitizer and an inaccessible page before that: any read or write
// outside the buffer faults. One buffer per call; not thread-safe.
#pragma once

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size) : size_(size) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        body_ = (size + page - 1) / page * page;
        total_ = body_ + 2 * page;
        void *base = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base == MAP_FAILED) {
            std::perror("mmap");
            std::abort();
        }
        base_ = static_cast<uint8_t *>(base);
        mprotect(base_, page, PROT_NONE);
        mprotect(base_ + page + body_, page, PROT_NONE);
        data_ = base_ + page + body_ - size;
        head_ = base_ + page;
        ASAN_POISON_MEMORY_REGION(head_, body_ - size);
    }
    ~GuardedBuffer() {
        ASAN_UNPOISON_MEMORY_REGION(head_, body_ - size_);
        munmap(base_, total_);
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    uint8_t *data() { return data_; }
    size_t size() const { return size_; }
    // Fills the buffer with `bytes` repeated (zeros when there are none).
    void Fill(const uint8_t *bytes, size_t count) {
        for (size_t i = 0; i < size_; ++i) data_[i] = count ? bytes[i % count] : 0;
    }

private:
    size_t size_;
    size_t body_ = 0;
    size_t total_ = 0;
    uint8_t *base_ = nullptr;
    uint8_t *head_ = nullptr;
    uint8_t *data_ = nullptr;
};

// Reads a fuzz input front to back; past its end every read gives zeros.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    int32_t Int32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        int32_t out;
        std::memcpy(&out, &v, sizeof(out));
        return out;
    }
    const uint8_t *rest() const { return data_ + at_; }
    size_t rest_size() const { return at_ < size_ ? size_ - at_ : 0; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

[[noreturn]] inline void Fail(const char *what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

}  // namespace fuzz
