#include "probe_io.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void ProbePrint(const ProbeIo& io, const char* format, ...) {
    if (io.outputLost) return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length >= 0 && static_cast<size_t>(length) < sizeof text) {
        if (!io.write(io.context, text, static_cast<size_t>(length))) io.outputLost = true;
    } else if (length > 0) {
        // A long argument, such as one from the command line.
        std::vector<char> longText(static_cast<size_t>(length) + 1);
        vsnprintf(longText.data(), longText.size(), format, again);
        if (!io.write(io.context, longText.data(), static_cast<size_t>(length)))
            io.outputLost = true;
    }
    va_end(again);
}
