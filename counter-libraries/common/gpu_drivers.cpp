#include "gpu_drivers.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "clients_snapshot.h"
#include "driver_library.h"

namespace {

// Where a counter unit of the library is read: which driver, which of the found GPUs,
// which of that driver's units.
struct UnitPlace {
    uint32_t driver;
    uint32_t gpu;
    uint32_t unit;
};

// Never destroyed: a read may still be in a driver when the process ends.
struct Drivers {
    const GpuMachine* machine = nullptr;
    std::mutex lock;  // held only between driver calls
    std::vector<FoundGpu> found;
    std::vector<uint32_t> numbered;  // found GPU of each GPU number
    std::vector<uint32_t> ownerOf;   // driver of each GPU number
    std::vector<UnitPlace> places;   // by the library's unit
    std::vector<bool> started;       // by driver
};

Drivers& State() {
    static Drivers* drivers = new Drivers;
    return *drivers;
}

int32_t Start(uint32_t* counters, std::vector<CounterUnit>* units) {
    Drivers& state = State();
    const GpuMachine& machine = *state.machine;
    std::vector<FoundGpu> found;
    if (const int32_t status = machine.find(&found)) return status;
    if (found.size() > kMaxDevices) return kDriverTooManyDevices;
    std::vector<int64_t> owner(found.size(), -1);
    std::vector<bool> started(machine.driverCount, false);
    for (uint32_t d = 0; d < machine.driverCount; ++d) {
        std::vector<bool> owned(found.size(), false);
        machine.drivers[d]->start(&found, &owned);
        for (size_t f = 0; f < found.size(); ++f) {
            if (!owned[f]) continue;
            started[d] = true;
            if (owner[f] < 0) owner[f] = d;  // the first driver to take it keeps it
        }
    }
    std::vector<uint32_t> numbered, ownerOf;
    std::vector<UnitPlace> places;
    for (uint32_t f = 0; f < found.size(); ++f) {
        if (owner[f] < 0) continue;
        numbered.push_back(f);
        ownerOf.push_back(static_cast<uint32_t>(owner[f]));
    }
    const uint32_t gpus = static_cast<uint32_t>(numbered.size());
    for (uint32_t number = 0; number < gpus; ++number) {
        const GpuDriver& driver = *machine.drivers[ownerOf[number]];
        for (uint32_t u = 0; u < driver.unitsPerGpu; ++u) {
            const CounterUnit metrics = driver.unitMetrics(numbered[number], u);
            if (metrics.count == 0) continue;
            units->push_back(CounterUnit{
                numbering_counter(machine.numbering, gpus, number, metrics.first), metrics.count});
            places.push_back(UnitPlace{ownerOf[number], numbered[number], u});
        }
    }
    std::lock_guard<std::mutex> guard(state.lock);
    state.found.swap(found);
    state.numbered.swap(numbered);
    state.ownerOf.swap(ownerOf);
    state.places.swap(places);
    state.started.swap(started);
    *counters = numbering_counters(machine.numbering, gpus);
    return 0;
}

void Stop() {
    Drivers& state = State();
    std::vector<bool> started;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        started.swap(state.started);
        state.numbered.clear();
        state.ownerOf.clear();
        state.places.clear();
    }
    for (size_t d = 0; d < started.size(); ++d)
        if (started[d]) state.machine->drivers[d]->stop();
}

void Read(Sampler* sampler, void*, uint32_t unit, CounterReading* out) {
    Drivers& state = State();
    UnitPlace place{};
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (unit >= state.places.size()) return;  // stopped: the counters stay missing
        place = state.places[unit];
    }
    state.machine->drivers[place.driver]->read(sampler, place.gpu, place.unit, out);
}

// "<meaning> (GPU <number>: <driver> <address>, <model>)"; without the model where none is
// known.
std::string Description(const std::string& meaning, uint32_t number, const FoundGpu& gpu) {
    std::string text =
        meaning + " (GPU " + std::to_string(number) + ": " + gpu.driver + " " + gpu.address;
    if (!gpu.model.empty()) text += ", " + gpu.model;
    return text + ")";
}

// The GPU number and metric of a counter; false beyond the GPUs'.
bool Place(uint32_t counter, uint32_t* number, uint32_t* metric) {
    Drivers& state = State();
    uint32_t gpus = 0;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        gpus = static_cast<uint32_t>(state.numbered.size());
    }
    return numbering_metric(state.machine->numbering, gpus, counter, number, metric);
}

std::string Text(uint32_t counter, bool description) {
    Drivers& state = State();
    const GpuMachine& machine = *state.machine;
    uint32_t number = 0, metric = 0;
    if (!Place(counter, &number, &metric)) return "";
    if (!description) return machine.name(number, metric);
    uint32_t gpu = 0, driver = 0;
    FoundGpu found;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (number >= state.numbered.size()) return "";
        gpu = state.numbered[number];
        driver = state.ownerOf[number];
        found = state.found[gpu];
    }
    return Description(machine.drivers[driver]->meaning(gpu, metric), number, found);
}

bool Percent(uint32_t counter) {
    uint32_t number = 0, metric = 0;
    return Place(counter, &number, &metric) && State().machine->percent(metric);
}

bool Cumulative(uint32_t counter) {
    uint32_t number = 0, metric = 0;
    return Place(counter, &number, &metric) && State().machine->cumulative(metric);
}

DriverParts MakeParts(const GpuMachine& machine) {
    return DriverParts{Start,          Stop,
                       Read,           Text,
                       Percent,        machine.defaultPeriodMs,
                       machine.lateMs, machine.workers,
                       true,           machine.exitingStatus,
                       Cumulative};
}

}  // namespace

int32_t GpuDriversClients(GpuClients* snapshot) {
    if (!ClientsSnapshotUsable(snapshot)) return kDriverBadArgument;
    Drivers& state = State();
    std::vector<GpuClient> clients;
    std::vector<GpuDevice> devices;
    std::vector<uint32_t> unreadable, wanted;
    uint64_t atNs = 0;
    try {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.machine == nullptr) return kDriverNotStarted;
        for (uint32_t number = 0; number < state.numbered.size(); ++number) {
            const GpuDriver& driver = *state.machine->drivers[state.ownerOf[number]];
            if (driver.clients == nullptr) continue;
            const size_t first = clients.size();
            GpuDevice device{number, 0, 0, 0, 0, 0, 0};
            // Each driver reads its GPUs at times of its own: each GPU's time goes with it.
            const uint64_t lookNs =
                driver.clients(state.numbered[number], &clients, &unreadable, &device);
            atNs = std::max(atNs, lookNs);
            device.atNs = lookNs;
            wanted.push_back(numbering_counter(state.machine->numbering,
                                               static_cast<uint32_t>(state.numbered.size()), number,
                                               driver.clientsMetric));
            for (size_t c = first; c < clients.size(); ++c) clients[c].gpu = number;
            device.gpu = number;
            devices.push_back(device);
        }
        // A process counts once, however many GPUs could not read its clients.
        std::sort(unreadable.begin(), unreadable.end());
        unreadable.erase(std::unique(unreadable.begin(), unreadable.end()), unreadable.end());
    } catch (...) {
        return kDriverBadArgument;  // memory ran out
    }
    // Outside this lock: the library's is taken before it, never after.
    driver_want_counters(wanted);
    ClientsSnapshotStart(snapshot, static_cast<uint32_t>(unreadable.size()), atNs);
    for (const GpuClient& client : clients) ClientsSnapshotAdd(snapshot, client);
    for (const GpuDevice& device : devices) ClientsSnapshotAddDevice(snapshot, device);
    return 0;
}

CounterEntry GpuDriversQueryInterface(const GpuMachine& machine, uint32_t identifier) {
    // Made once, and lives for ever, as the skeleton asks of its parts. The binding asks
    // for 32 entries on every bind: after the first, this is one load of a flag.
    static const DriverParts* const parts = [&] {
        State().machine = &machine;
        return new DriverParts(MakeParts(machine));
    }();
    return DriverQueryInterface(*parts, identifier);
}
