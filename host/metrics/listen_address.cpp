#include "listen_address.h"

namespace {

bool ParsePort(const std::string& text, uint16_t* port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

bool IsIpv4(const std::string& text) {
    int parts = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('.', at);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(at, end - at);
        if (part.empty() || part.size() > 3) return false;
        unsigned value = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 255) return false;
        ++parts;
        at = end + 1;
    }
    return parts == 4;
}

bool IsIpv6(const std::string& text) {
    if (text.empty() || text.size() > 45) return false;
    for (char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != ':' && c != '.') return false;
    }
    return text.find(':') != std::string::npos;
}

}  // namespace

bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* error) {
    *address = ListenAddress{"127.0.0.1", false, 0};
    std::string port = text;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos || !IsIpv6(text.substr(1, close - 1))) {
            *error = "an IPv6 address is written [ADDR]:PORT, as [::1]:9101";
            return false;
        }
        address->host = text.substr(1, close - 1);
        address->ipv6 = true;
        port = text.substr(close + 2);
    } else if (!text.empty() && text[0] == ':') {
        // Every interface, as operators write it: IPv6 and IPv4 on one socket.
        address->host = "::";
        address->ipv6 = true;
        port = text.substr(1);
    } else if (text.find(':') != std::string::npos) {
        const size_t colon = text.rfind(':');
        address->host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address->host == "localhost") address->host = "127.0.0.1";
        if (!IsIpv4(address->host)) {
            *error = "not a numeric IPv4 address: " + address->host;
            return false;
        }
    }
    if (!ParsePort(port, &address->port)) {
        *error = "not a port from 1 to 65535: " + port;
        return false;
    }
    return true;
}
