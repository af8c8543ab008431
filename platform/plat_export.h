#pragma once

// Marks a function that a shared library or executable exports by its plain name.
#if defined(_WIN32)
#define PLAT_EXPORT __declspec(dllexport)
#else
#define PLAT_EXPORT __attribute__((visibility("default")))
#endif
