// Filling a caller's snapshot of the GPU clients (gpu_clients.h), as every counter library
// with the clients' entry does: the caller's sizes decide what is written and where, and
// nothing is written beyond the room the caller gave. Plain code over plain records, so
// that a library of plain data uses it too.
#pragma once

#include <cstddef>
#include <cstring>

#include "gpu_clients.h"

// Whether the caller's record has the GPUs' own figures.
inline bool ClientsSnapshotHasDevices(const GpuClients* snapshot) {
    return snapshot->size >= offsetof(GpuClients, deviceCount) + sizeof(uint32_t);
}

// The size of each of the caller's GPU records: the first layout's, unless it says more.
inline uint32_t ClientsSnapshotDeviceSize(const GpuClients* snapshot) {
    const bool given = snapshot->size >= offsetof(GpuClients, deviceSize) + sizeof(uint32_t) &&
                       snapshot->deviceSize != 0;
    return given ? snapshot->deviceSize : kGpuDeviceFirstSize;
}

// Whether the caller's record can be filled: sizes no smaller than the first layouts', and
// an array wherever room is claimed.
inline bool ClientsSnapshotUsable(const GpuClients* snapshot) {
    if (snapshot == nullptr || snapshot->size < kGpuClientsFirstSize ||
        snapshot->clientSize < sizeof(GpuClient) ||
        (snapshot->capacity > 0 && snapshot->clients == nullptr))
        return false;
    if (!ClientsSnapshotHasDevices(snapshot) || snapshot->deviceCapacity == 0) return true;
    return snapshot->devices != nullptr &&
           ClientsSnapshotDeviceSize(snapshot) >= kGpuDeviceFirstSize;
}

// Empties it before the clients are added; `unreadable` and `atNs` as the entry gives them.
inline void ClientsSnapshotStart(GpuClients* snapshot, uint32_t unreadable, uint64_t atNs) {
    snapshot->count = snapshot->total = 0;
    snapshot->unreadable = unreadable;
    snapshot->atNs = atNs;
    if (ClientsSnapshotHasDevices(snapshot)) snapshot->deviceCount = 0;
}

// Adds a client: written where the caller's array has room, counted in the total always.
inline void ClientsSnapshotAdd(GpuClients* snapshot, const GpuClient& client) {
    if (snapshot->count < snapshot->capacity) {
        char* at = reinterpret_cast<char*>(snapshot->clients) +
                   static_cast<size_t>(snapshot->count) * snapshot->clientSize;
        memcpy(at, &client, sizeof client);
        ++snapshot->count;
    }
    ++snapshot->total;
}

// Adds a GPU's own busy figure, where the caller asked for them and has room.
inline void ClientsSnapshotAddDevice(GpuClients* snapshot, const GpuDevice& device) {
    if (!ClientsSnapshotHasDevices(snapshot) || snapshot->deviceCount >= snapshot->deviceCapacity)
        return;
    const uint32_t size = ClientsSnapshotDeviceSize(snapshot);
    char* at = reinterpret_cast<char*>(snapshot->devices) +
               static_cast<size_t>(snapshot->deviceCount++) * size;
    memcpy(at, &device, size < sizeof device ? size : sizeof device);
}
