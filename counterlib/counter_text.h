#pragma once

#include <cstddef>
#include <cstdint>

// Capacity that callers announce to the library for a name or description.
constexpr uint32_t kCounterTextCapacity = 200;

// A text buffer for the library: it is told 200 characters and one more is kept for a
// terminator, so a text that the library leaves unterminated is still cut safely.
struct CounterTextBuffer {
    char text[kCounterTextCapacity + 1];
};

// Asks for a counter's name or description. On status 0 `out.text` is terminated.
int32_t QueryCounterName(int32_t index, CounterTextBuffer* out);
int32_t QueryCounterDescription(int32_t index, CounterTextBuffer* out);

// How much of a text of `length` bytes fits in `limit` bytes: `length` when it fits,
// otherwise `limit`, less the start of a character that the cut would break where the
// host's texts are UTF-8.
size_t TextCutLength(const char* text, size_t length, size_t limit);

// Copies at most `capacity` - 1 characters of `source` (which need not be terminated
// within `sourceCapacity`) into `destination` and terminates it. A cut never breaks a
// UTF-8 character.
void CopyText(char* destination, size_t capacity, const char* source, size_t sourceCapacity);
