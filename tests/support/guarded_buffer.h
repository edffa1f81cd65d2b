// A test buffer that sits against an inaccessible page, so a read or write one
// byte past its end (or before its start) faults at once. Owned by one test;
// freed on destruction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kovic_test {

// Page mapping, one implementation per platform (guarded_pages_*.cpp).
size_t PageSize();
void *MapPages(size_t bytes);           // readable and writable; null on failure
void ProtectPages(void *at, size_t bytes);  // no access at all
void UnmapPages(void *at, size_t bytes);

class GuardedBuffer {
public:
    enum class Guard { kAfterEnd, kBeforeStart };

    GuardedBuffer(size_t size, Guard guard) : size_(size) {
        const size_t page = PageSize();
        const size_t data_pages = (size + page - 1) / page;
        mapped_size_ = (data_pages + 1) * page;
        uint8_t *base = static_cast<uint8_t *>(MapPages(mapped_size_));
        if (base == nullptr) return;
        if (guard == Guard::kAfterEnd) {
            ProtectPages(base + data_pages * page, page);
            data_ = base + data_pages * page - size;
        } else {
            ProtectPages(base, page);
            data_ = base + page;
        }
        base_ = base;
    }
    ~GuardedBuffer() {
        if (base_ != nullptr) UnmapPages(base_, mapped_size_);
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    uint8_t *data() const { return data_; }
    size_t size() const { return size_; }

private:

    size_t size_ = 0;
    size_t mapped_size_ = 0;
    uint8_t *base_ = nullptr;
    uint8_t *data_ = nullptr;
};

}  // namespace kovic_test
