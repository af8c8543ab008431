// Where the metrics endpoint listens: [ADDR:]PORT, the address numeric, IPv6 in brackets.
#pragma once

#include <cstdint>
#include <string>

struct ListenAddress {
    std::string host;  // numeric, without brackets
    bool ipv6;
    uint16_t port;
};

// A bare port, or localhost:PORT, listens on the loopback address 127.0.0.1 only; :PORT
// and [::]:PORT on every interface, IPv6 and IPv4 alike; other addresses are numeric:
// 0.0.0.0:9101, [::1]:9101. False, with a reason, for anything else.
bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* error);
