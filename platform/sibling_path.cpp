#include "sibling_path.h"

#include <cstring>

bool sibling_path(const char* modulePath, const char* extension, char* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (modulePath == nullptr || extension == nullptr) return false;

    const size_t length = strlen(modulePath);
    size_t nameStart = 0;
    for (size_t i = 0; i < length; ++i) {
        if (modulePath[i] == '/' || modulePath[i] == '\\') nameStart = i + 1;
    }
    size_t stemLength = length;
    for (size_t i = length; i > nameStart; --i) {
        if (modulePath[i - 1] == '.') {
            stemLength = i - 1;
            break;
        }
    }

    const size_t extensionLength = strlen(extension);
    if (stemLength + extensionLength + 1 > capacity) return false;
    memcpy(out, modulePath, stemLength);
    memcpy(out + stemLength, extension, extensionLength + 1);
    return true;
}
