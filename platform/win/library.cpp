#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform.h"
#include "wide_text.h"

namespace {
thread_local char t_libraryError[512] = "";

void KeepSystemError(DWORD code) {
    char text[400] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) text[--length] = 0;
    snprintf(t_libraryError, sizeof t_libraryError, "error %lu%s%s",
             static_cast<unsigned long>(code), length > 0 ? ": " : "", text);
}
}  // namespace

void* plat_library_open(const char* fileName) {
    const std::wstring wideName = fileName != nullptr ? wide_from_utf8(fileName) : std::wstring();
    if (wideName.empty() || wideName.size() >= MAX_PATH) {
        snprintf(t_libraryError, sizeof t_libraryError,
                 "no library name, one too long, or one that is not UTF-8");
        return nullptr;
    }
    // A library with a missing dependency must fail quietly, not raise a dialog inside
    // the host's process.
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE library = LoadLibraryW(wideName.c_str());
    DWORD error = GetLastError();
    SetThreadErrorMode(previousMode, nullptr);
    if (library == nullptr) KeepSystemError(error);
    return library;
}

PlatFunction plat_library_symbol(void* library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<PlatFunction>(reinterpret_cast<void (*)()>(address));
}

void plat_library_close(void* library) {
    // Nothing useful can be done when unloading fails; the library just stays mapped.
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

const char* plat_library_error() {
    return t_libraryError;
}

bool plat_main_module_exports(const char* name) {
    HMODULE mainModule = GetModuleHandleW(nullptr);
    return mainModule != nullptr && GetProcAddress(mainModule, name) != nullptr;
}

void* plat_library_open_file(const char* path) {
    const std::wstring widePath = path != nullptr ? wide_from_utf8(path) : std::wstring();
    if (widePath.empty()) {
        snprintf(t_libraryError, sizeof t_libraryError, "no plug-in file named, or not UTF-8");
        return nullptr;
    }
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        KeepSystemError(GetLastError());
        return nullptr;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        snprintf(t_libraryError, sizeof t_libraryError, "not a regular file");
        return nullptr;
    }
    // LoadLibrary searches for a name without a folder: the full path names the file.
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(widePath.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        snprintf(t_libraryError, sizeof t_libraryError, "the plug-in's full path is too long");
        return nullptr;
    }
    return plat_library_open(utf8_from_wide(full).c_str());
}

void* plat_library_loaded(const char* fileName) {
    const std::wstring wideName = fileName != nullptr ? wide_from_utf8(fileName) : std::wstring();
    HMODULE module = nullptr;
    if (wideName.empty() || GetModuleHandleExW(0, wideName.c_str(), &module) == 0) return nullptr;
    return module;
}

void plat_pin_module_of(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       static_cast<LPCWSTR>(address), &module);
}

void plat_at_fork(void (*)(), void (*)(), void (*)()) {
    // Windows has no fork.
}
