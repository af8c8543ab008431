// A counter library that loads but has no query entry: the binding must report -1.
#include "plat_export.h"

extern "C" PLAT_EXPORT int NotTheQueryEntry() {
    return 0;
}
