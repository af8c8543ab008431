// Lines written to standard output at once, and what happens when they cannot be.
#pragma once

#include <string>

enum class Written { kYes, kReaderGone, kFailed };

// Writes a line at once. A reader that has gone (SIGPIPE is ignored, so the write fails)
// is told apart from output that is lost: a full disk, a closed output.
Written WriteLine(const std::string& line);

// The exit status once output could not be written: a reader that went away is the
// normal end of a pipeline; anything else is reported once on standard error.
int OutputLost(Written written);
