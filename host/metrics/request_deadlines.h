// Deadlines for the endpoint's requests: a client has a few seconds from its connection
// (or from its last answer, on a connection kept open) to send a whole request. A client
// that sends its headers a byte at a time would otherwise hold a connection slot for as
// long as it keeps going. A connection past its deadline is shut down under the server,
// which then sees it end and closes it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

class RequestDeadlines {
public:
    using Clock = std::chrono::steady_clock;

    // `first`: the time for the request that opens a connection; `next`: for each later
    // request on it (the time that a kept connection may wait idle, and then the request).
    RequestDeadlines(Clock::duration first, Clock::duration next);
    RequestDeadlines(const RequestDeadlines&) = delete;
    RequestDeadlines& operator=(const RequestDeadlines&) = delete;
    ~RequestDeadlines() { Stop(); }

    void Opened(const void* connection, int socket);
    void RequestArrived(const void* connection);  // its headers are all in: no deadline
    void Answered(const void* connection);        // a new deadline for the next request
    void Closed(const void* connection);          // before its socket is closed

    // Shuts down the sockets of connections past their deadline; the watch thread calls it
    // every second. Returns how many it shut down.
    unsigned ShutDownLate(Clock::time_point now);

    void Start();
    void Stop();

private:
    struct Connection {
        int socket;
        bool waiting;  // for a request
        Clock::time_point deadline;
    };

    const Clock::duration first_, next_;
    std::mutex lock_;  // held across shutdown(2), so a socket is never closed under it
    std::condition_variable wake_;
    std::map<const void*, Connection> connections_;
    bool stopping_ = false;
    std::thread watch_;
};
