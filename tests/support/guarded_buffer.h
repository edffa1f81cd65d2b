// A test buffer that sits against an inaccessible page, so a read or write one
// byte past its end (or before its start) faults at once. Owned by one test;
// freed on destruction.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kovic_test {

class GuardedBuffer {
public:
    enum class Guard { kAfterEnd, kBeforeStart };

    GuardedBuffer(size_t size, Guard guard) : size_(size) {
        const size_t page = PageSize();
        const size_t data_pages = (size + page - 1) / page;
        mapped_size_ = (data_pages + 1) * page;
        uint8_t *base = static_cast<uint8_t *>(Map(mapped_size_));
        if (base == nullptr) return;
        if (guard == Guard::kAfterEnd) {
            Protect(base + data_pages * page, page);
            data_ = base + data_pages * page - size;
        } else {
            Protect(base, page);
            data_ = base + page;
        }
        base_ = base;
    }
    ~GuardedBuffer() {
        if (base_ != nullptr) Unmap(base_, mapped_size_);
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    uint8_t *data() const { return data_; }
    size_t size() const { return size_; }

private:
#if defined(_WIN32)
    static size_t PageSize() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwPageSize;
    }
    static void *Map(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }
    static void Protect(void *at, size_t bytes) {
        DWORD old = 0;
        VirtualProtect(at, bytes, PAGE_NOACCESS, &old);
    }
    static void Unmap(void *at, size_t) { VirtualFree(at, 0, MEM_RELEASE); }
#else
    static size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }
    static void *Map(size_t bytes) {
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    static void Protect(void *at, size_t bytes) { mprotect(at, bytes, PROT_NONE); }
    static void Unmap(void *at, size_t bytes) { munmap(at, bytes); }
#endif

    size_t size_ = 0;
    size_t mapped_size_ = 0;
    uint8_t *base_ = nullptr;
    uint8_t *data_ = nullptr;
};

}  // namespace kovic_test
