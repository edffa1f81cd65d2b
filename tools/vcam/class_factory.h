// The class object of the virtual camera filter: a static object whose
// reference counts only lock the module. Any thread.
#pragma once

#include "vcam_platform.h"

namespace vcam {

IClassFactory *FilterClassFactory();

}  // namespace vcam
