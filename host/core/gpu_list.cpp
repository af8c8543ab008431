#include "gpu_list.h"

#include <cstdio>
#include <map>

#include "bind_failure.h"
#include "counter_library.h"
#include "counter_text.h"
#include "host_text.h"
#include "no_source_reason.h"

namespace {

constexpr char kNotOffered[] = ": not available on this GPU";

struct Gpu {
    std::string what;  // from a description: "amdgpu 0000:03:00.0, Navi 21"
    std::vector<std::string> reads;
    std::vector<std::string> cannot;
};

// "gpu3_busy": 3 and "busy"; false for a name of no GPU.
bool SplitName(const std::string& name, uint32_t* gpu, std::string* metric) {
    if (name.compare(0, 3, "gpu") != 0) return false;
    size_t at = 3;
    uint32_t number = 0;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9' && number < 100000)
        number = number * 10 + static_cast<uint32_t>(name[at++] - '0');
    if (at == 3 || at >= name.size() || name[at] != '_') return false;
    *gpu = number;
    *metric = name.substr(at + 1);
    return true;
}

// What a description says of its GPU: after "(GPU <g>: " or "(GPU <g>, " up to the last
// ")"; "" where it says nothing.
std::string GpuOf(const std::string& description, uint32_t gpu) {
    const std::string number = "(GPU " + std::to_string(gpu);
    const size_t at = description.rfind(number);
    const size_t end = description.rfind(')');
    const size_t from = at + number.size();
    if (at == std::string::npos || end == std::string::npos || end <= from + 1 ||
        (description[from] != ':' && description[from] != ','))
        return "";
    return description.substr(from + 2, end - from - 2);
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) text += (i > 0 ? separator : "") + items[i];
    return text;
}

}  // namespace

std::string GpuListText(const std::string& library, const std::vector<ListedCounter>& counters) {
    std::map<uint32_t, Gpu> gpus;
    size_t others = 0;
    for (const ListedCounter& counter : counters) {
        uint32_t number = 0;
        std::string metric;
        if (!SplitName(PrintableText(counter.name), &number, &metric)) {
            ++others;
            continue;
        }
        Gpu& gpu = gpus[number];
        const std::string description = PrintableText(counter.description);
        if (gpu.what.empty()) gpu.what = GpuOf(description, number);
        if (description.find(kNotOffered) != std::string::npos)
            gpu.cannot.push_back(metric + " (not available on this GPU)");
        else if (counter.status != 0)
            gpu.cannot.push_back(metric + " (its reading fails: status " +
                                 std::to_string(counter.status) + ")");
        else
            gpu.reads.push_back(metric);
    }
    if (gpus.empty())
        return "No GPU found by the counter library " + library + ": it lists " +
               std::to_string(counters.size()) + " counter" + (counters.size() == 1 ? "" : "s") +
               (others > 0 ? ", none of a GPU (the simulated library's, say)" : "") +
               ". The GPU library finds the GPUs that /sys/class/drm lists with a PCI device; "
               "NVIDIA's through the driver's NVML.\n";
    std::string text = std::to_string(gpus.size()) + " GPU" + (gpus.size() == 1 ? "" : "s") +
                       " in the counter library " + library + ":\n";
    for (const auto& entry : gpus) {
        const Gpu& gpu = entry.second;
        text += "GPU " + std::to_string(entry.first) + ": " +
                (gpu.what.empty() ? "(its counters do not say)" : gpu.what) + "\n";
        text += "  reads (" + std::to_string(gpu.reads.size()) +
                "): " + (gpu.reads.empty() ? "nothing" : Joined(gpu.reads, ", ")) + "\n";
        if (!gpu.cannot.empty())
            text += "  cannot read (" + std::to_string(gpu.cannot.size()) +
                    "): " + Joined(gpu.cannot, ", ") + "\n";
    }
    return text;
}

int ListGpus() {
    const int32_t bound = BindCounterLibrary();
    if (bound != 0) {
        fprintf(stderr, "zarmite-host: %s\n", BindFailureText(bound).c_str());
        Shutdown();
        return 3;
    }
    const std::string library = LoadedCounterLibrary();
    uint32_t count = 0;
    if (GetNumCounters(&count) != 0) count = 0;
    std::vector<ListedCounter> counters;
    for (uint32_t i = 0; i < count && i < 1000000; ++i) {
        CounterTextBuffer name, description;
        if (QueryCounterName(static_cast<int32_t>(i), &name) != 0) name.text[0] = '\0';
        if (QueryCounterDescription(static_cast<int32_t>(i), &description) != 0)
            description.text[0] = '\0';
        counters.push_back(
            ListedCounter{name.text, description.text, AddCounter(static_cast<int32_t>(i))});
    }
    uint32_t sampled = 0;
    Sample(nullptr, &sampled);
    for (uint32_t i = 0; i < counters.size(); ++i) {
        if (counters[i].status != 0) continue;
        uint64_t value = 0, cycle = 0;
        counters[i].status = GetCounterValue(static_cast<int32_t>(i), 0, &value, &cycle);
    }
    RemoveAllCounters();
    Shutdown();
    const std::string text = GpuListText(library, counters);
    fputs(text.c_str(), stdout);
    return text.compare(0, 12, "No GPU found") == 0 ? 1 : 0;
}
