// Releasing media types handed out by the framework: FreeMediaType for a record
// the caller owns (its format block and object reference), DeleteMediaType for
// a record the framework allocated as well.
#pragma once

#include "platform/platform.h"

namespace kovic {

// Frees the format block (when cbFormat is not 0) and releases pUnk; zeroes both.
void FreeMediaType(AM_MEDIA_TYPE &type);
// Null is ignored; otherwise FreeMediaType, then CoTaskMemFree of the record.
void DeleteMediaType(AM_MEDIA_TYPE *type);

// Holds a media type from GetStreamCaps or GetFormat and deletes it once.
class MediaTypePtr {
public:
    MediaTypePtr() = default;
    MediaTypePtr(const MediaTypePtr &) = delete;
    MediaTypePtr &operator=(const MediaTypePtr &) = delete;
    ~MediaTypePtr() { DeleteMediaType(p_); }
    AM_MEDIA_TYPE *Get() const { return p_; }
    AM_MEDIA_TYPE *operator->() const { return p_; }
    void Swap(MediaTypePtr &other) {
        AM_MEDIA_TYPE *p = p_;
        p_ = other.p_;
        other.p_ = p;
    }
    AM_MEDIA_TYPE **ReleaseAndGetAddressOf() {
        DeleteMediaType(p_);
        p_ = nullptr;
        return &p_;
    }

private:
    AM_MEDIA_TYPE *p_ = nullptr;
};

}  // namespace kovic
