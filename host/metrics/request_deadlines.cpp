#include "request_deadlines.h"

#include <sys/socket.h>

RequestDeadlines::RequestDeadlines(Clock::duration first, Clock::duration next)
    : first_(first), next_(next) {}

void RequestDeadlines::Opened(const void* connection, int socket) {
    std::lock_guard<std::mutex> guard(lock_);
    connections_[connection] = Connection{socket, true, Clock::now() + first_};
}

void RequestDeadlines::RequestArrived(const void* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = connections_.find(connection);
    if (found != connections_.end()) found->second.waiting = false;
}

void RequestDeadlines::Answered(const void* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = connections_.find(connection);
    if (found != connections_.end())
        found->second = {found->second.socket, true, Clock::now() + next_};
}

void RequestDeadlines::Closed(const void* connection) {
    std::lock_guard<std::mutex> guard(lock_);
    connections_.erase(connection);
}

unsigned RequestDeadlines::ShutDownLate(Clock::time_point now) {
    std::lock_guard<std::mutex> guard(lock_);
    unsigned count = 0;
    for (auto& entry : connections_) {
        Connection& connection = entry.second;
        if (!connection.waiting || connection.deadline > now) continue;
        shutdown(connection.socket, SHUT_RDWR);
        connection.waiting = false;  // once is enough: the server closes it now
        ++count;
    }
    return count;
}

void RequestDeadlines::Start() {
    watch_ = std::thread([this] {
        std::unique_lock<std::mutex> guard(lock_);
        while (!stopping_) {
            wake_.wait_for(guard, std::chrono::seconds(1));
            if (stopping_) break;
            guard.unlock();
            ShutDownLate(Clock::now());
            guard.lock();
        }
    });
}

void RequestDeadlines::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (watch_.joinable()) watch_.join();
}
