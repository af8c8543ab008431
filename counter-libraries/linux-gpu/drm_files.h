// The kernel's files, as this library reads them: under the folder that stands for "/"
// (ZARMITE_DRM_ROOT, for tests and for a machine's files copied elsewhere), read in one
// go, bounded, never trusted. A read may wait as long as the kernel takes; only the
// sampler's workers read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ZARMITE_DRM_ROOT without a trailing slash, or "" for the real "/".
std::string drm_root();

// Reads at most `limit` bytes of a file: 0, or the errno of the failure.
int drm_read_file(const std::string& path, size_t limit, std::string* out);
// The file's first word as a decimal integer: 0, the errno of the failure, or EBADMSG
// for a file that holds no such number.
int drm_read_integer(const std::string& path, int64_t* value);
// A file's first line without its line break, cut to 200 bytes; "" for none.
std::string drm_read_line(const std::string& path);
// The same of a text read already: of its first 256 bytes, the first line, printable.
std::string drm_first_line(const std::string& text);

bool drm_exists(const std::string& path);
// The names in a folder, "." and ".." left out, sorted; none for a folder that cannot be
// read.
std::vector<std::string> drm_list(const std::string& path);
// The last part of the target a link names, or "" where it is no link.
std::string drm_link_name(const std::string& path);
// The path with every link resolved, or "" where it leads nowhere.
std::string drm_real_path(const std::string& path);

// A file's text as it may be shown: control characters and bytes outside printable ASCII
// become "?", cut to `limit` bytes.
std::string drm_printable(const std::string& text, size_t limit);
