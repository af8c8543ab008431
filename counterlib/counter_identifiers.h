// The identifiers of the counter library's operations, in table order. The query entry
// answers each with the operation's address.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kCounterTableSize = 31;

constexpr uint32_t kCounterIdentifiers[kCounterTableSize] = {
    0x38A4618F,  //  0 Initialize
    0x82054A9E,  //  1
    0x8E91D6F1,  //  2 Shutdown
    0xD3B468F6,  //  3
    0xA2933EEA,  //  4 GetNumCounters
    0xC6802424,  //  5 GetCounterName
    0x57FC239E,  //  6 GetCounterDescription
    0xA1F5CCF5,  //  7
    0xA025DBF9,  //  8
    0x4565C505,  //  9 GetCounterAttribute
    0xF96DCC24,  // 10
    0xCD4624B6,  // 11 AddCounter
    0x7663DB3F,  // 12
    0x10747EF3,  // 13
    0x5864E258,  // 14
    0x667D65CA,  // 15
    0xCBA836E1,  // 16 RemoveAllCounters
    0xE961A9C7,  // 17
    0x05D95ED0,  // 18
    0x30AA87E5,  // 19
    0x11BB4AF8,  // 20
    0xC83474B9,  // 21
    0xBC8FF957,  // 22
    0xDBFF3EBE,  // 23
    0xF4F49871,  // 24
    0x35E5552F,  // 25 Sample
    0xCF03E7B6,  // 26
    0x7F80C1EF,  // 27
    0x1E0D2A02,  // 28 GetCounterValue
    0x2A960947,  // 29
    0x55CFA974,  // 30
};

// Table positions of the operations this system calls.
enum CounterOperation : size_t {
    kInitializePosition = 0,
    kShutdownPosition = 2,
    kGetNumCountersPosition = 4,
    kGetCounterNamePosition = 5,
    kGetCounterDescriptionPosition = 6,
    kGetCounterAttributePosition = 9,
    kAddCounterPosition = 11,
    kRemoveAllCountersPosition = 16,
    kSamplePosition = 25,
    kGetCounterValuePosition = 28,
};

constexpr uint32_t kInitializeIdentifier = kCounterIdentifiers[kInitializePosition];
