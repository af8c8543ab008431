#include "connection_caps.h"

#include <netinet/in.h>
#include <sys/socket.h>

bool ConnectionCaps::MayAccept(const std::string& address) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = byAddress_.find(address);
    const unsigned held = found == byAddress_.end() ? 0 : found->second.held;
    const bool accepted = held < 2 * perAddress_ && all_.held < 2 * total_;
    if (!accepted) ++refusedEver_;
    return accepted;
}

void ConnectionCaps::Started(const void* connection, const std::string& address) {
    std::lock_guard<std::mutex> guard(lock_);
    Counts& counts = byAddress_[address];
    ++counts.held;
    ++all_.held;
    // Served at once where there is room; otherwise the verdict waits for its request,
    // by which time the connections that were being answered have let their places go.
    const bool room = counts.active < perAddress_ && all_.active < total_;
    Connection& started = connections_[connection];
    started = Connection{address, room, room, false};
    SetActive(started, room);
}

void ConnectionCaps::SetActive(Connection& connection, bool active) {
    if (connection.active == active) return;
    connection.active = active;
    unsigned& counted = byAddress_[connection.address].active;
    if (active) {
        ++counted;
        ++all_.active;
    } else {
        --counted;
        --all_.active;
    }
}

void ConnectionCaps::Answered(const void* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = connections_.find(connection);
    if (found != connections_.end()) SetActive(found->second, false);
}

bool ConnectionCaps::RequestArrived(const void* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return false;
    Connection& arrived = found->second;
    if (!arrived.decided) {
        arrived.decided = true;
        arrived.served = byAddress_[arrived.address].active < perAddress_ && all_.active < total_;
        if (!arrived.served) ++refusedEver_;
    }
    if (arrived.served) SetActive(arrived, true);
    return arrived.served;
}

void ConnectionCaps::Closed(const void* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    SetActive(found->second, false);
    const auto address = byAddress_.find(found->second.address);
    if (address != byAddress_.end() && --address->second.held == 0) byAddress_.erase(address);
    --all_.held;
    connections_.erase(found);
}

uint64_t ConnectionCaps::Refused() {
    std::lock_guard<std::mutex> guard(lock_);
    return refusedEver_;
}

std::string ClientAddressKey(const void* sockaddrPointer) {
    if (sockaddrPointer == nullptr) return "";
    const auto* address = static_cast<const sockaddr*>(sockaddrPointer);
    if (address->sa_family == AF_INET) {
        const auto* v4 = static_cast<const sockaddr_in*>(sockaddrPointer);
        return std::string("4") +
               std::string(reinterpret_cast<const char*>(&v4->sin_addr), sizeof v4->sin_addr);
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = static_cast<const sockaddr_in6*>(sockaddrPointer);
        return std::string("6") +
               std::string(reinterpret_cast<const char*>(&v6->sin6_addr), sizeof v6->sin6_addr);
    }
    return "?";
}
