// zarmite-drm-scan-timing: the processor time of the GPU library's costliest work, over a
// machine's files (fake_gpu_machine.py writes one): the first walk over /proc for DRM
// descriptors, which reads every process, and a sampler pass, which reads the processes
// that are new and a tenth of the others, then every known client's fdinfo; and every
// known client's fdinfo alone, which is what each period reads. Prints the median and the
// best of 21 of each.
//
//   zarmite-drm-scan-timing ROOT
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "drm_clients.h"
#include "drm_files.h"
#include "engine_usage.h"

namespace {

double CpuMs() {
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

uint64_t NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

constexpr uint32_t kSlices = 10;

std::vector<std::string> Paths(const std::vector<DrmDescriptor>& descriptors) {
    std::vector<std::string> paths;
    for (const DrmDescriptor& descriptor : descriptors) paths.push_back(descriptor.fdinfo);
    return paths;
}

// Reads every known client's fdinfo, per GPU as each GPU's reading does.
uint32_t ReadClients(const DrmDescriptors& descriptors, EngineHistory histories[2]) {
    const std::vector<std::string> gpus[2] = {{"card1", "renderD129"}, {"card2", "renderD130"}};
    uint32_t clients = 0;
    for (int g = 0; g < 2; ++g)
        clients += engine_shares(Paths(drm_still_open(drm_descriptors_on(descriptors, gpus[g]))),
                                 drm_read_file, &histories[g], NowNs(), "")
                       .clients;
    return clients;
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    printf("%-46s median %7.2f ms, best %7.2f ms of processor time\n", what, ms[ms.size() / 2],
           ms.front());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: zarmite-drm-scan-timing ROOT\n");
        return 2;
    }
    const std::string root = argv[1];
    EngineHistory histories[2];
    std::vector<double> walks, passes, reads;
    DrmWalk walk;
    uint32_t clients = 0;
    for (uint32_t pass = 0; pass < 21; ++pass) {
        DrmWalk first;
        double start = CpuMs();
        drm_walk_step(root, kSlices, &first);
        walks.push_back(CpuMs() - start);
        if (pass == 0) walk = first;
        start = CpuMs();
        drm_walk_step(root, kSlices, &walk);
        clients = ReadClients(walk.known, histories);
        passes.push_back(CpuMs() - start);
        start = CpuMs();
        ReadClients(walk.known, histories);
        reads.push_back(CpuMs() - start);
    }
    printf("%u DRM clients in %zu processes\n", clients, walk.known.size());
    Report("the first walk over /proc: every process", walks);
    Report("a walk step: new processes, a tenth", passes);
    Report("every client's fdinfo alone, each period", reads);
    return 0;
}
