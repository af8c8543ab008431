// Basic authentication for the metrics endpoint: the Authorization header decoded and its
// password checked against the user's bcrypt hash, at a cost that no client can turn
// against the others.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

enum class AuthVerdict { kGood, kBad, kBusy };

class BasicAuth {
public:
    // `users` maps names to bcrypt hashes; none: every request is let in. At most
    // `parallelChecks` bcrypt checks run at once, so that a flood of wrong passwords takes
    // that many cores and no more.
    BasicAuth(std::map<std::string, std::string> users, unsigned parallelChecks);

    // The verdict on a request's Authorization header (null when it has none). A password
    // once found right is remembered: the same credentials again cost no bcrypt. An unknown
    // user costs what a wrong password does, so timing does not tell which names exist.
    // kBusy when no check could start within `waitMs` or the server is stopping.
    AuthVerdict Check(const char* authorization, unsigned waitMs = 10000);

    // Waiting checks end at once with kBusy; a check in progress ends by itself (the
    // hash's cost is bounded).
    void Stop();

private:
    bool TakeTurn(unsigned waitMs);
    void GiveTurn();

    const std::map<std::string, std::string> users_;
    const unsigned parallel_;
    std::mutex lock_;
    std::condition_variable turn_;
    unsigned running_ = 0;
    bool stopping_ = false;
    std::map<std::string, std::string> accepted_;  // user to the last password found right
};

// The user and password of a "Basic" Authorization header; false when it is none. The
// password is kept whole: a NUL inside is part of it.
bool DecodeBasicAuthorization(const char* header, std::string* user, std::string* password);

// Whether `password` matches the bcrypt `hash`, checked by the system's crypt. A password
// holding a NUL never matches (crypt would read it only up to the NUL).
bool PasswordMatches(const std::string& password, const std::string& hash);
