#include "gpu_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "bind_failure.h"
#include "counter_library.h"
#include "counter_text.h"
#include "gpu_sources.h"
#include "host_text.h"
#include "no_source_reason.h"
#include "platform.h"
#include "sample_period.h"
#include "value_units.h"

namespace {

constexpr char kNotOffered[] = ": not available on this GPU";
constexpr uint32_t kListSampleMs = 1000;

struct Gpu {
    std::string what;                // from a description: "amdgpu 0000:03:00.0, Navi 21"
    std::vector<uint32_t> counters;  // its counters' numbers, in order
    std::vector<std::string> reads;
    // What it cannot read, by why, in the order the reasons came.
    std::vector<std::pair<std::string, std::vector<std::string>>> cannot;
    size_t cannotCount = 0;
    std::vector<std::string> now;  // "busy 37 %", "power 187 W"
};

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) text += (i > 0 ? separator : "") + items[i];
    return text;
}

// Why a description says its counter is not available: "not available on this GPU", and
// after it, where the library says why, ": " and the reason in its parentheses (not those
// that name the GPU).
std::string NotOfferedWhy(const std::string& description, size_t at) {
    std::string why = "not available on this GPU";
    const size_t open = at + strlen(kNotOffered);
    if (description.compare(open, 2, " (") != 0 || description.compare(open + 2, 4, "GPU ") == 0)
        return why;
    const size_t close = description.find(')', open);
    return close == std::string::npos ? why
                                      : why + ": " + description.substr(open + 2, close - open - 2);
}

void AddCannot(Gpu* gpu, const std::string& why, const std::string& metric) {
    ++gpu->cannotCount;
    for (auto& group : gpu->cannot)
        if (group.first == why) return group.second.push_back(metric);
    gpu->cannot.push_back({why, {metric}});
}

// "0-15, 32-54": runs of neighbouring numbers.
std::string Runs(const std::vector<uint32_t>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size();) {
        size_t last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) ++last;
        text += (text.empty() ? "" : ", ") + std::to_string(numbers[i]) +
                (last > i ? "-" + std::to_string(numbers[last]) : "");
        i = last + 1;
    }
    return text;
}

}  // namespace

std::string GpuListText(const std::string& library, const std::vector<ListedCounter>& counters,
                        int only, const std::vector<GpuUnread>& unread) {
    std::map<uint32_t, Gpu> gpus;
    size_t others = 0;
    uint32_t highest = 0;
    for (size_t index = 0; index < counters.size(); ++index) {
        const ListedCounter& counter = counters[index];
        uint32_t number = 0;
        std::string metric;
        if (!SplitGpuCounterName(PrintableText(counter.name), &number, &metric)) {
            ++others;
            continue;
        }
        highest = std::max(highest, number);
        if (only >= 0 && number != static_cast<uint32_t>(only)) continue;
        Gpu& gpu = gpus[number];
        const std::string description = PrintableText(counter.description);
        if (gpu.what.empty()) gpu.what = GpuOfDescription(description, number);
        gpu.counters.push_back(static_cast<uint32_t>(index));
        const size_t notOffered = description.find(kNotOffered);
        if (notOffered != std::string::npos)
            AddCannot(&gpu, NotOfferedWhy(description, notOffered), metric);
        else if (counter.status != 0)
            AddCannot(&gpu, "its reading fails: status " + std::to_string(counter.status), metric);
        else
            gpu.reads.push_back(metric);
        if (counter.status == 0 && std::isfinite(counter.value))
            gpu.now.push_back(FigureWithoutUnits(metric) + " " +
                              ValueWithUnits(counter.value, counter.units));
    }
    if (gpus.empty() && only >= 0 && others < counters.size())
        return "No GPU " + std::to_string(only) + " in the counter library " + library +
               ": its GPUs are numbered 0 to " + std::to_string(highest) + "\n";
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
        text += "  counters: " + Runs(gpu.counters) + "\n";
        text += "  reads (" + std::to_string(gpu.reads.size()) +
                "): " + (gpu.reads.empty() ? "nothing" : Joined(gpu.reads, ", ")) + "\n";
        std::vector<std::string> cannot;
        for (const auto& group : gpu.cannot)
            cannot.push_back(Joined(group.second, ", ") + " (" + group.first + ")");
        if (!cannot.empty())
            text += "  cannot read (" + std::to_string(gpu.cannotCount) +
                    "): " + Joined(cannot, "; ") + "\n";
        if (!gpu.now.empty()) text += "  now: " + Joined(gpu.now, ", ") + "\n";
        for (const GpuUnread& notRead : unread) {
            if (notRead.gpu != static_cast<uint32_t>(entry.first)) continue;
            text += "  clients not read:";
            if (notRead.lateClients > 0)
                text += " " + std::to_string(notRead.lateClients) +
                        " files that did not answer in time (a hung driver?);";
            if (notRead.leftOut > 0)
                text += " " + std::to_string(notRead.leftOut) +
                        " descriptors left out at a cap (64 a process, 4096 a GPU);";
            text.back() = '\n';
        }
    }
    return text;
}

int ListGpus(int only) {
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
    // Shares are taken over an interval: a second sample a period after the first (the
    // libraries' own period, or a second at the most).
    uint32_t sampled = 0, periodMs = kListSampleMs;
    Sample(nullptr, &sampled);
    if (SamplePeriodSetting(&periodMs) != SamplePeriod::kValid) periodMs = kListSampleMs;
    plat_sleep_ms(std::min(periodMs, kListSampleMs));
    Sample(nullptr, &sampled);
    for (uint32_t i = 0; i < counters.size(); ++i) {
        if (counters[i].status != 0) continue;
        uint64_t value = 0, cycle = 0, kind = 1;
        counters[i].status = GetCounterValue(static_cast<int32_t>(i), 0, &value, &cycle);
        if (counters[i].status != 0 || GetCounterAttribute(static_cast<int32_t>(i), 2, &kind) != 0)
            continue;
        const bool percent = kind == 0;
        counters[i].value =
            percent
                ? (cycle == 0 ? 0 : 100.0 * static_cast<double>(value) / static_cast<double>(cycle))
                : static_cast<double>(value);
        if (percent)
            counters[i].units = "%";
        else
            FigureWithoutUnits(counters[i].name, &counters[i].units);
    }
    std::vector<GpuUnread> unread;
    {
        GpuProcessReader clients;
        unread = clients.Take().unread;
    }  // let go before the library is shut down
    RemoveAllCounters();
    Shutdown();
    const std::string text = GpuListText(library, counters, only, unread);
    fputs(text.c_str(), stdout);
    return text.compare(0, 6, "No GPU") == 0 ? 1 : 0;
}
