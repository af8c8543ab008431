// XID errors from the driver's events as a fake driver table gives them: registered once,
// drained without a wait, counted, the last code kept; a driver without events.
#include "nvml_xid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace {

struct FakeEvents {
    std::deque<nvmlEventData_t> waiting;
    nvmlReturn_t registerStatus = NVML_SUCCESS;
    int creates = 0, frees = 0;
    unsigned int longestWaitMs = 0;
    int set = 0;
};
FakeEvents g_events;

nvmlReturn_t Create(nvmlEventSet_t* set) {
    ++g_events.creates;
    *set = reinterpret_cast<nvmlEventSet_t>(&g_events.set);
    return NVML_SUCCESS;
}
nvmlReturn_t Register(nvmlDevice_t, unsigned long long types, nvmlEventSet_t) {
    return types == nvmlEventTypeXidCriticalError ? g_events.registerStatus
                                                  : NVML_ERROR_INVALID_ARGUMENT;
}
nvmlReturn_t Wait(nvmlEventSet_t, nvmlEventData_t* data, unsigned int timeoutMs) {
    g_events.longestWaitMs = std::max(g_events.longestWaitMs, timeoutMs);
    if (g_events.waiting.empty()) return NVML_ERROR_TIMEOUT;
    *data = g_events.waiting.front();
    g_events.waiting.pop_front();
    return NVML_SUCCESS;
}
nvmlReturn_t Free(nvmlEventSet_t) {
    ++g_events.frees;
    return NVML_SUCCESS;
}

nvmlEventData_t Xid(unsigned long long code) {
    return nvmlEventData_t{nullptr, nvmlEventTypeXidCriticalError, code, 0, 0};
}

TEST(NvmlXid, EventsAreCountedWithoutAWaitAndTheLastCodeKept) {
    NvmlFunctions nvml{};
    XidState none;
    EXPECT_EQ(nvml_xid_read(nvml, nullptr, &none), NVML_ERROR_FUNCTION_NOT_FOUND);
    nvml.nvmlEventSetCreate = Create;
    nvml.nvmlDeviceRegisterEvents = Register;
    nvml.nvmlEventSetWait_v2 = Wait;
    nvml.nvmlEventSetFree = Free;
    XidState state;
    ASSERT_EQ(nvml_xid_read(nvml, nullptr, &state), NVML_SUCCESS);
    EXPECT_EQ(state.count, 0u);
    EXPECT_EQ(state.last, 0u);
    g_events.waiting = {Xid(13), Xid(31), nvmlEventData_t{nullptr, 0x1, 5, 0, 0}, Xid(79)};
    ASSERT_EQ(nvml_xid_read(nvml, nullptr, &state), NVML_SUCCESS);
    EXPECT_EQ(state.count, 3u) << "another kind of event is no XID";
    EXPECT_EQ(state.last, 79u);
    // More than a read takes: the rest at the next read; never a wait.
    for (uint32_t i = 0; i < kMaxXidEventsARead + 6; ++i) g_events.waiting.push_back(Xid(48));
    nvml_xid_read(nvml, nullptr, &state);
    EXPECT_EQ(state.count, 3u + kMaxXidEventsARead);
    nvml_xid_read(nvml, nullptr, &state);
    EXPECT_EQ(state.count, 3u + kMaxXidEventsARead + 6);
    EXPECT_EQ(g_events.longestWaitMs, 0u);
    EXPECT_EQ(g_events.creates, 1) << "registered once";
    nvml_xid_free(nvml, &state);
    EXPECT_EQ(g_events.frees, 1);
    // A driver that cannot register them (an older one): said at every read, set given back.
    g_events.registerStatus = NVML_ERROR_NOT_SUPPORTED;
    XidState refused;
    EXPECT_EQ(nvml_xid_read(nvml, nullptr, &refused), NVML_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(nvml_xid_read(nvml, nullptr, &refused), NVML_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(g_events.frees, 2);
    EXPECT_EQ(g_events.creates, 2);
}

}  // namespace
