// Enumerators handed out by the filter (pins) and its pins (media types).
// Each is a COM object of its own, counted as a live object; one client
// thread at a time, as COM enumerators are.
#pragma once

#include <vector>

#include "vcam_platform.h"
#include "video_format.h"

namespace vcam {

// Pins in the filter's order; holds a reference on the filter. Null when out of memory.
IEnumPins *CreatePinEnumerator(IBaseFilter *filter, IPin *const *pins, int count);
// A snapshot of media types, built on each Next. Null when out of memory.
IEnumMediaTypes *CreateMediaTypeEnumerator(const std::vector<VideoFormat> &formats);

}  // namespace vcam
