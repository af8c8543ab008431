#include "basic_auth.h"

#include <crypt.h>
#include <strings.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace {

// Compared in full whatever the first difference, so that timing tells nothing.
bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool DecodeBase64(const char* text, std::string* out) {
    out->clear();
    unsigned bits = 0, count = 0;
    size_t padding = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '=') {
            ++padding;
            continue;
        }
        const int value = Base64Value(*c);
        if (value < 0 || padding > 0) return false;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out->push_back(static_cast<char>((bits >> count) & 0xff));
        }
    }
    return padding <= 2;
}

}  // namespace

bool DecodeBasicAuthorization(const char* header, std::string* user, std::string* password) {
    if (header == nullptr || strncasecmp(header, "Basic ", 6) != 0) return false;
    const char* encoded = header + 6;
    while (*encoded == ' ') ++encoded;
    std::string decoded;
    if (strlen(encoded) > 4096 || !DecodeBase64(encoded, &decoded)) return false;
    const size_t colon = decoded.find(':');
    if (colon == std::string::npos) return false;
    *user = decoded.substr(0, colon);
    *password = decoded.substr(colon + 1);
    return true;
}

bool PasswordMatches(const std::string& password, const std::string& hash) {
    auto data = std::make_unique<crypt_data>();  // large: not on a server thread's stack
    memset(data.get(), 0, sizeof *data);
    const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
    if (computed == nullptr || computed[0] == '*') return false;
    return SameText(computed, hash) && password.find('\0') == std::string::npos;
}

BasicAuth::BasicAuth(std::map<std::string, std::string> users, unsigned parallelChecks)
    : users_(std::move(users)), parallel_(parallelChecks > 0 ? parallelChecks : 1) {}

AuthVerdict BasicAuth::Check(const char* authorization, unsigned waitMs) {
    if (users_.empty()) return AuthVerdict::kGood;
    std::string user, password;
    if (!DecodeBasicAuthorization(authorization, &user, &password)) return AuthVerdict::kBad;
    const auto known = users_.find(user);
    if (known != users_.end()) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto remembered = accepted_.find(user);
        if (remembered != accepted_.end() && SameText(remembered->second, password))
            return AuthVerdict::kGood;
    }
    if (!TakeTurn(waitMs)) return AuthVerdict::kBusy;
    // An unknown name is checked against a real hash too, and then refused.
    const bool matches =
        PasswordMatches(password, known != users_.end() ? known->second : users_.begin()->second);
    GiveTurn();
    if (!matches || known == users_.end()) return AuthVerdict::kBad;
    std::lock_guard<std::mutex> guard(lock_);
    accepted_[user] = password;
    return AuthVerdict::kGood;
}

bool BasicAuth::TakeTurn(unsigned waitMs) {
    std::unique_lock<std::mutex> guard(lock_);
    const bool turn = turn_.wait_for(guard, std::chrono::milliseconds(waitMs),
                                     [this] { return stopping_ || running_ < parallel_; });
    if (!turn || stopping_) return false;
    ++running_;
    return true;
}

void BasicAuth::GiveTurn() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        --running_;
    }
    turn_.notify_one();
}

void BasicAuth::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    turn_.notify_all();
}
