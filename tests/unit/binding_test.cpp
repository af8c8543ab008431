#include <gtest/gtest.h>

#include "counter_library.h"
#include "fake_counter_library.h"

namespace {

TEST(Binding, OperationsBeforeAnySuccessfulBindReturnNotBound) {
    FakeCounterLibrary fake;
    fake.counters.push_back({"a", "b"});
    uint32_t count = 99;
    EXPECT_EQ(GetNumCounters(&count), -3);
    EXPECT_EQ(count, 99u);

    // Whatever step the failed binds stop at, nothing gets bound.
    fake.loadFails = true;
    EXPECT_EQ(BindCounterLibrary(), -2);
    fake.loadFails = false;
    fake.lacksQueryEntry = true;
    EXPECT_EQ(BindCounterLibrary(), -1);
    fake.lacksQueryEntry = false;
    fake.refusedIdentifiers = {kInitializeIdentifier};
    EXPECT_EQ(BindCounterLibrary(), -1);
    fake.refusedIdentifiers.clear();
    fake.initializeResult = -7;
    EXPECT_EQ(BindCounterLibrary(), -7);
    EXPECT_EQ(g_bindStatus, -7);

    EXPECT_EQ(GetNumCounters(&count), -3);
    EXPECT_EQ(AddCounter(0), -3);
    EXPECT_EQ(Shutdown(), -3);
    EXPECT_EQ(fake.CountCalls("GetNumCounters"), 0);
}

TEST(Binding, SuccessfulBindQueriesInitializeThenTheWholeTableInOrder) {
    FakeCounterLibrary fake;
    ASSERT_EQ(BindCounterLibrary(), 0);
    ASSERT_EQ(fake.queries.size(), 32u);
    EXPECT_EQ(fake.queries[0], kInitializeIdentifier);
    for (size_t i = 0; i < kCounterTableSize; ++i) {
        EXPECT_EQ(fake.queries[i + 1], kCounterIdentifiers[i]) << "position " << i;
        EXPECT_EQ(g_counterTable[i].identifier, kCounterIdentifiers[i]);
    }
    EXPECT_EQ(fake.calls, std::vector<std::string>{"Initialize"});
}

TEST(Binding, PositiveInitializeCountsAsSuccess) {
    FakeCounterLibrary fake;
    fake.counters.push_back({"a", "b"});
    fake.initializeResult = 1;
    EXPECT_EQ(BindCounterLibrary(), 0);
    uint32_t count = 0;
    EXPECT_EQ(GetNumCounters(&count), 0);
    EXPECT_EQ(count, 1u);
}

TEST(Binding, RefusedInitializationDoesNotWalkTheTable) {
    FakeCounterLibrary fake;
    fake.initializeResult = -1;
    EXPECT_EQ(BindCounterLibrary(), -1);
    EXPECT_EQ(fake.queries.size(), 1u);
}

TEST(Binding, LaterFailedBindKeepsTheEntriesOfTheEarlierOne) {
    FakeCounterLibrary fake;
    fake.counters.push_back({"a", "b"});
    ASSERT_EQ(BindCounterLibrary(), 0);
    fake.loadFails = true;
    EXPECT_EQ(BindCounterLibrary(), -2);
    EXPECT_EQ(g_bindStatus, -2);
    uint32_t count = 0;
    EXPECT_EQ(GetNumCounters(&count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(AddCounter(0), 0);
}

TEST(Binding, EveryBindLoadsAndInitializesAgain) {
    FakeCounterLibrary fake;
    EXPECT_EQ(BindCounterLibrary(), 0);
    EXPECT_EQ(BindCounterLibrary(), 0);
    EXPECT_EQ(fake.loads, 2);
    EXPECT_EQ(fake.CountCalls("Initialize"), 2);
}

TEST(Binding, UnknownIdentifierLeavesItsEntryUnbound) {
    FakeCounterLibrary fake;
    fake.counters.push_back({"a", "b"});
    fake.refusedIdentifiers = {kCounterIdentifiers[kAddCounterPosition]};
    ASSERT_EQ(BindCounterLibrary(), 0);
    EXPECT_EQ(AddCounter(0), -3);
    uint32_t count = 0;
    EXPECT_EQ(GetNumCounters(&count), 0);
    // Positions nothing calls may stay unbound too.
    EXPECT_EQ(g_counterTable[1].entry, reinterpret_cast<CounterEntry>(NotBoundEntry));
}

TEST(Binding, OperationsPassTheirArgumentsThrough) {
    FakeCounterLibrary fake;
    fake.counters = {{"zero", "first"}, {"one", "second", 0, 50, 200}};
    ASSERT_EQ(BindCounterLibrary(), 0);
    char buffer[16];
    uint32_t length = sizeof buffer;
    EXPECT_EQ(GetCounterDescription(1, buffer, &length), 0);
    EXPECT_STREQ(buffer, "second");
    uint64_t kind = 9;
    EXPECT_EQ(GetCounterAttribute(1, 2, &kind), 0);
    EXPECT_EQ(kind, 0u);
    EXPECT_EQ(AddCounter(1), 0);
    uint32_t sampled = 0;
    EXPECT_EQ(Sample(nullptr, &sampled), 0);
    uint64_t value = 0, cycle = 0;
    EXPECT_EQ(GetCounterValue(1, 0, &value, &cycle), 0);
    EXPECT_EQ(value, 50u);
    EXPECT_EQ(cycle, 200u);
    EXPECT_EQ(RemoveAllCounters(), 0);
    EXPECT_TRUE(fake.added.empty());
}

}  // namespace
