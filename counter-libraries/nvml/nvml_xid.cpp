#include "nvml_xid.h"

namespace {

nvmlReturn_t Register(const NvmlFunctions& nvml, nvmlDevice_t device, XidState* state) {
    if (nvml.nvmlEventSetCreate == nullptr || nvml.nvmlDeviceRegisterEvents == nullptr ||
        nvml.nvmlEventSetWait_v2 == nullptr || nvml.nvmlEventSetFree == nullptr)
        return NVML_ERROR_FUNCTION_NOT_FOUND;
    nvmlReturn_t status = nvml.nvmlEventSetCreate(&state->set);
    if (status != NVML_SUCCESS) return status;
    status = nvml.nvmlDeviceRegisterEvents(device, nvmlEventTypeXidCriticalError, state->set);
    if (status != NVML_SUCCESS) {
        nvml.nvmlEventSetFree(state->set);
        state->set = nullptr;
    }
    return status;
}

}  // namespace

nvmlReturn_t nvml_xid_read(const NvmlFunctions& nvml, nvmlDevice_t device, XidState* state) {
    if (!state->registered) {
        state->registered = true;
        state->status = Register(nvml, device, state);
    }
    if (state->status != NVML_SUCCESS) return state->status;
    for (uint32_t taken = 0; taken < kMaxXidEventsARead; ++taken) {
        nvmlEventData_t event{};
        const nvmlReturn_t status = nvml.nvmlEventSetWait_v2(state->set, &event, 0);
        if (status != NVML_SUCCESS) break;  // TIMEOUT: none left; anything else: next read
        if ((event.eventType & nvmlEventTypeXidCriticalError) == 0) continue;
        ++state->count;
        state->last = event.eventData;
    }
    return NVML_SUCCESS;
}

void nvml_xid_free(const NvmlFunctions& nvml, XidState* state) {
    if (state->set != nullptr && nvml.nvmlEventSetFree != nullptr)
        nvml.nvmlEventSetFree(state->set);
    *state = XidState{};
}
