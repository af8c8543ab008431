#include "pci_ids.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drm_files.h"

namespace {

// "XXXX  Name" at the start of `line`: the number, and where the name starts.
bool IdLine(const char* line, uint32_t* id, const char** name) {
    for (int i = 0; i < 4; ++i)
        if (!isxdigit(static_cast<unsigned char>(line[i]))) return false;
    if (line[4] != ' ' || line[5] != ' ') return false;
    *id = static_cast<uint32_t>(strtoul(std::string(line, 4).c_str(), nullptr, 16));
    *name = line + 6;
    return true;
}

}  // namespace

std::string pci_model_name(const std::string& path, uint32_t vendor, uint32_t device) {
    FILE* list = fopen(path.c_str(), "r");
    if (list == nullptr) return "";
    char line[512];
    bool inVendor = false;
    std::string name;
    while (name.empty() && fgets(line, sizeof line, list) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        uint32_t id = 0;
        const char* text = nullptr;
        if (line[0] != '\t') {
            if (line[0] == 'C' && line[1] == ' ') break;  // the device classes follow
            if (IdLine(line, &id, &text)) inVendor = id == vendor;
        } else if (inVendor && line[1] != '\t' && IdLine(line + 1, &id, &text) && id == device) {
            name = drm_printable(text, 100);
        }
    }
    fclose(list);
    return name;
}
