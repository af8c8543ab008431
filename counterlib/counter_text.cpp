#include "counter_text.h"

#include <cstring>

#include "counter_library.h"
#include "platform.h"

namespace {
int32_t QueryText(int32_t (*operation)(int32_t, char*, uint32_t*), int32_t index,
                  CounterTextBuffer* out) {
    out->text[0] = '\0';
    uint32_t length = kCounterTextCapacity;
    int32_t status = operation(index, out->text, &length);
    out->text[kCounterTextCapacity] = '\0';
    return status;
}
}  // namespace

int32_t QueryCounterName(int32_t index, CounterTextBuffer* out) {
    return QueryText(GetCounterName, index, out);
}

int32_t QueryCounterDescription(int32_t index, CounterTextBuffer* out) {
    return QueryText(GetCounterDescription, index, out);
}

size_t TextCutLength(const char* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    if (!plat_host_text_is_utf8()) return limit;
    // Back to the first byte of the character that the cut falls into: continuation bytes
    // are 10xxxxxx. At most three of them belong to one character.
    size_t cut = limit;
    for (int back = 0; back < 3 && cut > 0; ++back) {
        if ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80) break;
        --cut;
    }
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) return limit;  // not UTF-8
    return cut;
}

void CopyText(char* destination, size_t capacity, const char* source, size_t sourceCapacity) {
    if (capacity == 0) return;
    size_t length = 0;
    while (source != nullptr && length < sourceCapacity && source[length] != '\0') ++length;
    length = TextCutLength(source, length, capacity - 1);
    if (length > 0) memmove(destination, source, length);
    destination[length] = '\0';
}
