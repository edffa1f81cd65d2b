#include "graph/graph_owner.h"

namespace kovic {

int GraphOwner::ReportError(const char *format, ...) {
    va_list args;
    va_start(args, format);
    FormatLastError(format, args);
    va_end(args);
    return 0;
}

}  // namespace kovic
