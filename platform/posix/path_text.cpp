#include <cstring>

#include "platform.h"

size_t plat_path_units(const char* path) {
    return path == nullptr ? 0 : strlen(path);
}

bool plat_same_path(const char* a, const char* b) {
    return a != nullptr && b != nullptr && strcmp(a, b) == 0;
}

std::string plat_utf8_to_host_text(std::string_view text) {
    return std::string(text);
}

bool plat_host_text_is_utf8() {
    return true;
}

std::string plat_host_text_to_utf8(std::string_view text) {
    return std::string(text);
}
