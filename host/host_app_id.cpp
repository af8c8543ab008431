// A monitoring host identifies itself by exporting this entry from its executable; the
// plug-in only looks it up.
#include "plat_export.h"

extern "C" PLAT_EXPORT int GetHostAppID() {
    return 0x5A4D;
}
