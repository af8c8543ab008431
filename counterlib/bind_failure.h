// What a failed bind of the counter library means, in a sentence a user can act on: the
// probe and the host say it beside the status they print.
#pragma once

#include <cstdint>
#include <string>

// The plain sentence for a bind status (kStatusLoadFailed: no library found, where it was
// looked for and how to name one; kStatusNoQueryEntry: a file of that name that is no
// counter library; any other: the library's own start failing).
std::string BindFailureText(int32_t status);
