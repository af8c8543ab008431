#include "process_panel.h"

#include <algorithm>
#include <cstdio>

#include "host_text.h"

namespace {

constexpr int kFixedColumns = 47;  // all but the busy column and the command
constexpr int kCommandRoom = 20;
constexpr int kBusyMinWidth = 8;  // narrower, the column is left out

double Busiest(const GpuProcess& process) {
    double most = 0;
    for (double share : process.busyPercent) most = std::max(most, share);
    return most;
}

// Its two busiest classes: "graphics 60% copy 5%".
std::string BusyText(const GpuProcess& process) {
    std::vector<std::pair<double, uint32_t>> used;
    for (uint32_t c = 0; c < kGpuEngineClasses; ++c)
        if (process.busyPercent[c] >= 0) used.emplace_back(-process.busyPercent[c], c);
    std::sort(used.begin(), used.end());
    std::string text;
    for (size_t i = 0; i < used.size() && i < 2; ++i) {
        char share[48];
        snprintf(share, sizeof share, "%s%s %.0f%%", i > 0 ? " " : "",
                 kGpuEngineClassNames[used[i].second], -used[i].first);
        text += share;
    }
    return text.empty() ? "-" : text;
}

// Printable ASCII only: control characters escaped, the rest of what is not ASCII "?".
std::string Shown(const std::string& text) {
    std::string shown;
    for (char32_t c : CodePoints(PrintableText(text)))
        shown += c < 0x7F ? static_cast<char>(c) : '?';
    return shown;
}

std::string Fit(std::string line, int width) {
    if (static_cast<int>(line.size()) > width) line.resize(static_cast<size_t>(std::max(width, 0)));
    return line;
}

}  // namespace

ProcessOrder NextProcessOrder(ProcessOrder order) {
    switch (order) {
        case ProcessOrder::kBusy:
            return ProcessOrder::kMemory;
        case ProcessOrder::kMemory:
            return ProcessOrder::kPid;
        default:
            return ProcessOrder::kBusy;
    }
}

const char* ProcessOrderName(ProcessOrder order) {
    switch (order) {
        case ProcessOrder::kBusy:
            return "busy";
        case ProcessOrder::kMemory:
            return "memory";
        default:
            return "pid";
    }
}

std::vector<std::string> ProcessPanelLines(const GpuProcessRound& round, ProcessOrder order,
                                           int width, int rows, size_t first) {
    std::vector<std::string> lines;
    if (rows <= 0) return lines;
    if (!round.offered) {
        lines.push_back(Fit(" the counter library gives no per-process data", width));
        return lines;
    }
    std::vector<const GpuProcess*> processes;
    for (const GpuProcess& process : round.processes) processes.push_back(&process);
    std::stable_sort(
        processes.begin(), processes.end(), [order](const GpuProcess* a, const GpuProcess* b) {
            if (order == ProcessOrder::kBusy) return Busiest(*a) > Busiest(*b);
            if (order == ProcessOrder::kMemory)
                return a->deviceBytes + a->systemBytes > b->deviceBytes + b->systemBytes;
            return a->pid < b->pid;
        });
    // The busy column gives way first, so that 20 characters of the command show.
    const int busyWidth = std::max(0, std::min(30, width - kFixedColumns - kCommandRoom));
    const int busyShown = busyWidth >= kBusyMinWidth ? busyWidth : 0;
    char line[256];
    snprintf(line, sizeof line, " %-8s %-10s %-3s %-*.*s%s%9s %9s  %s", "PID", "USER", "GPU",
             busyShown, busyShown, "BUSY", busyShown > 0 ? " " : "", "DEVICE", "SYSTEM", "COMMAND");
    lines.push_back(Fit(line, width));
    const size_t room = static_cast<size_t>(std::max(rows - 2, 0));
    first = std::min(first, processes.size() > room ? processes.size() - room : 0);
    const size_t shown = std::min(room, processes.size() - first);
    for (size_t i = first; i < first + shown; ++i) {
        const GpuProcess& p = *processes[i];
        snprintf(line, sizeof line, " %-8u %-10.10s %-3u %-*.*s%s%5llu MiB %5llu MiB  ", p.pid,
                 Shown(p.user).c_str(), p.gpu, busyShown, busyShown, BusyText(p).c_str(),
                 busyShown > 0 ? " " : "", static_cast<unsigned long long>(p.deviceBytes >> 20),
                 static_cast<unsigned long long>(p.systemBytes >> 20));
        lines.push_back(Fit(line + Shown(p.name) + (p.shared ? " (shared)" : ""), width));
    }
    std::string last =
        " " + std::to_string(processes.size()) + " process" + (processes.size() == 1 ? "" : "es");
    if (shown < processes.size())
        last += ", " + std::to_string(first + 1) + "-" + std::to_string(first + shown) +
                " shown ([ ] scroll)";
    if (round.unreadable > 0)
        last += "; " + std::to_string(round.unreadable) + " could not be read";
    for (const GpuUnread& gpu : round.unread) {
        last += "; GPU " + std::to_string(gpu.gpu) + ":";
        if (gpu.lateClients > 0)
            last += " " + std::to_string(gpu.lateClients) + " not read in time";
        if (gpu.leftOut > 0)
            last += std::string(gpu.lateClients > 0 ? "," : "") + " " +
                    std::to_string(gpu.leftOut) + " descriptors left out";
    }
    for (const GpuUnattributed& busy : round.unattributed) {
        char share[80];
        snprintf(share, sizeof share, "; GPU %u %.0f%% busy by no process seen", busy.gpu,
                 busy.busyPercent);
        last += share;
    }
    last += std::string("   o order: ") + ProcessOrderName(order) + "  p hide";
    if (rows >= 2) lines.push_back(Fit(last, width));
    return lines;
}
