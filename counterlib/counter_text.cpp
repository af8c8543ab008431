#include "counter_text.h"

#include <cstring>

#include "counter_library.h"

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

void CopyText(char* destination, size_t capacity, const char* source, size_t sourceCapacity) {
    if (capacity == 0) return;
    size_t length = 0;
    while (source != nullptr && length < sourceCapacity && source[length] != '\0') ++length;
    if (length > capacity - 1) length = capacity - 1;
    if (length > 0) memmove(destination, source, length);
    destination[length] = '\0';
}
