// The platform layer: the few operating-system services the rest of Zarmite needs, as
// plain functions with plain results. Only the files under platform/posix and
// platform/win include system headers; everything else sees this header alone.
//
// Every path is UTF-8 text. The Windows layer turns it into UTF-16 at the system call,
// so that a folder name outside the ANSI code page works as well as any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A function address of unknown type. Callers cast it to the real type at the call.
using PlatFunction = void (*)();

// Loads a shared library by file name through the platform's default search order.
// Returns null on failure; the reason is kept for plat_library_error. On Windows no
// error dialog is ever shown for a library that fails to load.
void* plat_library_open(const char* fileName);
// Looks up an exported function; null when there is none.
PlatFunction plat_library_symbol(void* library, const char* name);
// Loads a shared library from a file path, never through a search: a bare file name means
// the file in the current folder. Only a regular file (or a link to one) is loaded, so
// that a pipe or a device at the path cannot hang the caller. Null on failure, with the
// reason kept for plat_library_error.
void* plat_library_open_file(const char* path);
// The library of that file name where the process has loaded it already, with a reference
// of its own; null, loading nothing, where it has not.
void* plat_library_loaded(const char* fileName);
// Releases one reference to a library opened by plat_library_open.
void plat_library_close(void* library);
// The reason the last plat_library_open on this thread failed, for messages.
const char* plat_library_error();

// Keeps the module that holds `address` loaded for the life of the process, so that a
// thread still running its code (one stuck in a driver call) never returns into code
// that was unloaded.
void plat_pin_module_of(const void* address);

// Handlers run around a fork (POSIX; nothing elsewhere): before it in the parent, then
// after it in the parent and in the child.
void plat_at_fork(void (*prepare)(), void (*parent)(), void (*child)());

// Whether the process's main executable exports a function of this name.
bool plat_main_module_exports(const char* name);

// An opaque handle to the module (shared library or executable) that holds `address`.
void* plat_module_handle_of(const void* address);
// The full, absolute path of a module into `out`, in UTF-8. A relative path that the
// module was loaded by is made absolute against the current folder, so it should be
// taken once, when the module is loaded; symbolic links in it are kept as they are.
// False, with `out` empty, when it cannot be found or does not fit in `capacity` bytes
// including the terminator.
bool plat_module_path(void* moduleHandle, char* out, size_t capacity);

// The length of a path in the platform's own units: UTF-16 units on Windows, bytes
// elsewhere. Path limits are counted in these units.
size_t plat_path_units(const char* path);
// Whether two paths are the same text as the file system compares names: without regard
// to letter case on Windows, exactly elsewhere.
bool plat_same_path(const char* a, const char* b);

// UTF-8 text in the 8-bit encoding that the host's texts use: the ANSI code page on
// Windows (characters it lacks become "?"), UTF-8 unchanged elsewhere.
std::string plat_utf8_to_host_text(std::string_view text);

// A text in the host's 8-bit encoding as UTF-8: converted from the ANSI code page on
// Windows, unchanged elsewhere (where it is UTF-8 already, or meant to be).
std::string plat_host_text_to_utf8(std::string_view text);

// Whether the host's 8-bit texts are UTF-8: always elsewhere, and on Windows when the ANSI
// code page is UTF-8. Texts cut to a field then end at a character boundary.
bool plat_host_text_is_utf8();

enum class PlatReadResult { kRead, kUnreadable, kTooLarge };
// Reads a whole file into `out`, without ever blocking: only a regular file is read, not
// a pipe, a device or a folder. A file larger than `limit` bytes is refused before any of
// it is read. `out` is empty unless the result is kRead.
PlatReadResult plat_file_read(const char* path, size_t limit, std::string& out);

// Replaces the file at `path` with `data` as one step: written to `path` + ".tmp" in the
// same folder, then renamed over it, so that a reader sees the old file or the new one,
// never a part. False when it could not be done; the old file is then left as it was.
// The temporary file is always a new one: whatever stands at that name is removed as a
// name, never written through, and nothing there can make the call wait.
bool plat_file_replace(const char* path, const std::string& data);

// Whether plat_file_replace can work at `path`: nothing or a regular file stands there (a
// link, a device or a folder does not count), and a file can be made in its folder. False,
// with the reason in `why`, otherwise.
bool plat_file_replaceable(const char* path, std::string* why);

// Removes the file named `path`; false when there was none or it could not be removed.
bool plat_file_remove(const char* path);

struct PlatLocalTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};
PlatLocalTime plat_local_time();
// How far local time is ahead of UTC now, in minutes (negative west of Greenwich).
int plat_utc_offset_minutes();

void plat_sleep_ms(uint32_t milliseconds);

// Whether a key waits in standard input, without consuming it. Input that is not a
// console or terminal counts as a pressed key when data is waiting or it is at its end,
// so that scripted runs finish.
bool plat_key_pressed();

// From now on SIGINT, SIGTERM and SIGHUP where it is not ignored (Ctrl+C and a console's
// close on Windows) only set a flag that plat_termination_requested reads, so that a
// program can end in order.
void plat_catch_termination();
bool plat_termination_requested();

// Whether standard output is a terminal (a console on Windows).
bool plat_stdout_is_terminal();
// What standard input holds now, without waiting or reading: nothing yet, something to
// read (a key, or the end of a file, which reads as nothing), or a hang-up or error after
// which nothing will ever come (a closed terminal).
enum class PlatInputState { kNothing, kReadable, kEnded };
PlatInputState plat_stdin_state();
// Whether the write that just failed found a pipe whose reader has gone, as opposed to
// output that is lost (a full disk, a closed descriptor). Asked right after the failure.
bool plat_write_failed_for_broken_pipe();
// Where standard output is closed, puts a descriptor there on which every write fails, so
// that no file the program opens later takes its place and receives its output.
void plat_guard_closed_stdout();
// Makes a write to a pipe whose reader has gone fail with an error instead of ending the
// process (SIGPIPE on POSIX; Windows has no such signal).
void plat_ignore_broken_pipe();

// A file opened for the diagnostic log, denying other writers while open where the
// platform can. The file is created if it is missing; with `append` false an existing one
// is emptied. Opening never blocks and never follows a link: what lies at the path must
// be a plain regular file with no other hard link, checked on the opened file itself
// before anything is emptied or written. Anything else (a pipe, a device, a folder, a
// symbolic link or reparse point) is left alone. Returns -1 on failure.
intptr_t plat_log_file_open(const char* path, bool append);
// Writes at the end of the file. False when not everything was written; the file is then
// cut back to where it ended before, so that no half entry stays behind.
bool plat_log_file_append(intptr_t file, const char* data, size_t size);
void plat_log_file_close(intptr_t file);

// A child process whose standard input is a pipe held by the parent; the test tools use
// it to press a key into a probe at a chosen moment.
struct PlatChild {
    intptr_t process;
    intptr_t inputPipe;
};
// Starts argv[0] with the arguments that follow it (argv ends with null). Standard output
// and standard error are shared with the caller. False when it cannot be started.
bool plat_child_start(const char* const* argv, PlatChild* child);
// Writes to the child's standard input.
bool plat_child_write_input(PlatChild* child, const char* data, size_t size);
// Closes the child's input, waits for it to end and returns its exit status, or -1.
int plat_child_wait(PlatChild* child);

// The process's resident memory in bytes, or 0 when unknown; for the soak benchmark.
uint64_t plat_resident_bytes();
// The number of files and handles the process holds open, or -1 when unknown.
long plat_open_handle_count();
