// The endpoint's caps on connections: how many requests it serves at once from one
// address and from all. A connection counts from its start until its answer, and again
// from its next request: a connection kept idle after its answer, or closing, leaves its
// place to others. A connection that starts while every place is taken is judged again
// when its request arrives, so that a scraper's next connection does not find its last
// one still counted while that one's end is being noted. A request that finds no place is
// answered "503 Service Unavailable" with a Retry-After, so that a scraper learns to come
// back instead of seeing its connection reset. Only beyond twice a cap of connections
// held (a flood) is a connection closed unanswered, so that a flood holds no more.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class ConnectionCaps {
public:
    ConnectionCaps(unsigned total, unsigned perAddress) : total_(total), perAddress_(perAddress) {}

    // Whether a connection from `address` is to be accepted at all (one that is not counts
    // as refused).
    bool MayAccept(const std::string& address);
    // A connection began: it takes a place where there is one, else it waits for its
    // first request to be judged.
    void Started(const void* connection, const std::string& address);
    // A request arrived: true where it is served, false where it is to be answered 503
    // (counted as refused, and so is every later request of that connection).
    bool RequestArrived(const void* connection);
    void Answered(const void* connection);  // idle now, until its next request
    void Closed(const void* connection);
    // Connections refused since the start: answered 503 or closed unanswered.
    uint64_t Refused();

private:
    struct Counts {
        unsigned active = 0;  // served, with a request to answer
        unsigned held = 0;    // every connection, active or not
    };
    struct Connection {
        std::string address;
        bool decided;  // served from its start, or judged at its first request
        bool served;
        bool active;
    };
    void SetActive(Connection& connection, bool active);

    const unsigned total_, perAddress_;
    std::mutex lock_;
    std::map<std::string, Counts> byAddress_;
    std::map<const void*, Connection> connections_;
    Counts all_;
    uint64_t refusedEver_ = 0;
};

// A key for a client's address: its bytes, without the port.
std::string ClientAddressKey(const void* sockaddrPointer);
