#include "gpu_sources.h"

#include "host_text.h"

namespace {

// A GPU number: decimal digits, at most five of them.
bool ParseGpuNumber(const std::string& text, size_t* at, uint32_t* number) {
    const size_t start = *at;
    *number = 0;
    while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9' && *at - start < 5)
        *number = *number * 10 + static_cast<uint32_t>(text[(*at)++] - '0');
    return *at > start;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

bool SplitGpuCounterName(const std::string& name, uint32_t* gpu, std::string* figure) {
    size_t at = 3;
    uint32_t number = 0;
    if (!StartsWith(name, "gpu") || !ParseGpuNumber(name, &at, &number) || at + 1 >= name.size() ||
        name[at] != '_')
        return false;
    *gpu = number;
    *figure = name.substr(at + 1);
    return true;
}

std::string GpuOfDescription(const std::string& description, uint32_t gpu) {
    const std::string number = "(GPU " + std::to_string(gpu);
    const size_t at = description.rfind(number);
    const size_t end = description.rfind(')');
    if (at == std::string::npos || end == std::string::npos) return "";
    const size_t from = at + number.size();
    if (end <= from + 1 || (description[from] != ':' && description[from] != ',')) return "";
    return description.substr(from + 2, end - from - 2);
}

std::string FigureWithoutUnits(const std::string& figure, std::string* units) {
    static const struct {
        const char* word;
        const char* units;
    } kWords[] = {{"_mhz", "MHz"},   {"_mw", "mW"}, {"_mib", "MiB"},
                  {"_kbps", "KB/s"}, {"_c", "C"},   {"_j", "J"}};
    for (const auto& word : kWords) {
        const size_t length = std::char_traits<char>::length(word.word);
        if (figure.size() > length &&
            figure.compare(figure.size() - length, length, word.word) == 0) {
            if (units != nullptr) *units = word.units;
            return figure.substr(0, figure.size() - length);
        }
    }
    if (units != nullptr) units->clear();
    return figure;
}

SourceGpu GpuOfSource(const HostSource& source) {
    const std::string name = PrintableText(source.name);
    uint32_t gpu = 0;
    std::string figure;
    if (SplitGpuCounterName(name, &gpu, &figure))
        return SourceGpu{static_cast<int>(gpu), FigureWithoutUnits(figure)};
    size_t at = 3;
    if (StartsWith(source.group, "GPU") && ParseGpuNumber(source.group, &at, &gpu) &&
        at == source.group.size())
        return SourceGpu{static_cast<int>(gpu), FigureWithoutUnits(name)};
    // "... (GPU 3: ...)": the last such number in the description.
    const std::string description = PrintableText(source.description);
    const size_t mark = description.rfind("(GPU ");
    at = mark + 5;
    if (mark != std::string::npos && ParseGpuNumber(description, &at, &gpu) &&
        !GpuOfDescription(description, gpu).empty())
        return SourceGpu{static_cast<int>(gpu), FigureWithoutUnits(name)};
    return SourceGpu{kNoGpu, name};
}

std::vector<HostSource> SourcesOfGpu(const std::vector<HostSource>& sources, int gpu) {
    std::vector<HostSource> kept;
    for (const HostSource& source : sources)
        if (GpuOfSource(source).gpu == gpu) kept.push_back(source);
    return kept;
}
