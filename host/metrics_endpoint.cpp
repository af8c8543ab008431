#include "metrics_endpoint.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

namespace {

constexpr unsigned kMaxConnections = 128;
constexpr unsigned kIdleSeconds = 10;
constexpr size_t kRequestLimit = 64 * 1024;
constexpr unsigned kThreads = 4;

const char kIndexPage[] =
    "<!DOCTYPE html>\n<html><head><title>zarmite-host</title></head>\n"
    "<body><h1>zarmite-host</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";
const char kExpositionType[] = "text/plain; version=0.0.4; charset=utf-8";

using Text = std::shared_ptr<const std::string>;

}  // namespace

struct MetricsEndpoint {
    MHD_Daemon* daemon = nullptr;
    std::mutex lock;  // the latest text, swapped once a round
    Text text;
    WebConfig config;
    std::string cert;  // read once; the server keeps pointers to them
    std::string key;
    std::map<std::string, std::string> accepted;  // user to the last password that matched
    std::mutex acceptedLock;
};

namespace {

bool ReadFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    *out = text.str();
    return in.good() || in.eof();
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, const char* body, const char* type,
                 const char* allow = nullptr) {
    MHD_Response* response = MHD_create_response_from_buffer(strlen(body), const_cast<char*>(body),
                                                             MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

void ReleaseText(void* text) {
    delete static_cast<Text*>(text);
}

MHD_Result QueueMetrics(MetricsEndpoint* endpoint, MHD_Connection* connection) {
    Text* text;
    {
        std::lock_guard<std::mutex> guard(endpoint->lock);
        text = new (std::nothrow) Text(endpoint->text);
    }
    if (text == nullptr) return MHD_NO;
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        (*text)->size(), const_cast<char*>((*text)->data()), ReleaseText, text);
    if (response == nullptr) {
        delete text;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, kExpositionType);
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

bool Authorised(MetricsEndpoint* endpoint, MHD_Connection* connection) {
    if (endpoint->config.users.empty()) return true;
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    bool good = false;
    if (user != nullptr && password != nullptr) {
        const auto hash = endpoint->config.users.find(user);
        if (hash != endpoint->config.users.end()) {
            // bcrypt is slow on purpose: a password once found good is not checked again.
            {
                std::lock_guard<std::mutex> guard(endpoint->acceptedLock);
                const auto known = endpoint->accepted.find(user);
                good = known != endpoint->accepted.end() && known->second == password;
            }
            if (!good && PasswordMatches(password, hash->second)) {
                good = true;
                std::lock_guard<std::mutex> guard(endpoint->acceptedLock);
                endpoint->accepted[user] = password;
            }
        }
    }
    MHD_free(user);
    MHD_free(password);
    return good;
}

MHD_Result Answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t*, void**) {
    MetricsEndpoint* endpoint = static_cast<MetricsEndpoint*>(context);
    if (!Authorised(endpoint, connection)) {
        static const char body[] = "Unauthorized\n";
        MHD_Response* response = MHD_create_response_from_buffer(
            sizeof body - 1, const_cast<char*>(body), MHD_RESPMEM_PERSISTENT);
        if (response == nullptr) return MHD_NO;
        const MHD_Result result =
            MHD_queue_basic_auth_fail_response(connection, "zarmite-host", response);
        MHD_destroy_response(response);
        return result;
    }
    const bool index = strcmp(url, "/") == 0;
    const bool metrics = strcmp(url, "/metrics") == 0;
    if (!index && !metrics)
        return Queue(connection, MHD_HTTP_NOT_FOUND, "Not Found\n", "text/plain");
    if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return Queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed\n", "text/plain",
                     "GET, HEAD");
    if (index) return Queue(connection, MHD_HTTP_OK, kIndexPage, "text/html; charset=utf-8");
    return QueueMetrics(endpoint, connection);
}

// The listening socket, bound here so that a bind failure is told as it is.
int Listen(const ListenAddress& address, std::string* error) {
    sockaddr_storage storage{};
    socklen_t length;
    if (address.ipv6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(address.port);
        if (inet_pton(AF_INET6, address.host.c_str(), &v6->sin6_addr) != 1) {
            *error = "not an IPv6 address: " + address.host;
            return -1;
        }
        length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(address.port);
        if (inet_pton(AF_INET, address.host.c_str(), &v4->sin_addr) != 1) {
            *error = "not an IPv4 address: " + address.host;
            return -1;
        }
        length = sizeof *v4;
    }
    const int listening = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0) {
        *error = std::string("no socket: ") + strerror(errno);
        return -1;
    }
    const int on = 1;
    setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.ipv6) setsockopt(listening, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (bind(listening, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        listen(listening, 128) != 0) {
        *error = std::string("cannot listen on ") + (address.ipv6 ? "[" : "") + address.host +
                 (address.ipv6 ? "]" : "") + ":" + std::to_string(address.port) + ": " +
                 strerror(errno);
        close(listening);
        return -1;
    }
    return listening;
}

}  // namespace

MetricsEndpoint* StartMetricsEndpoint(const ListenAddress& address, const WebConfig& config,
                                      const std::string& firstText, std::string* error) {
    auto endpoint = std::make_unique<MetricsEndpoint>();
    endpoint->config = config;
    endpoint->text = std::make_shared<const std::string>(firstText);
    const bool tls = !config.certFile.empty();
    if (tls) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            *error = "this system's HTTP library has no TLS";
            return nullptr;
        }
        if (!ReadFile(config.certFile, &endpoint->cert) ||
            !ReadFile(config.keyFile, &endpoint->key)) {
            *error = "the TLS certificate or key cannot be read";
            return nullptr;
        }
    }
    const int listening = Listen(address, error);
    if (listening < 0) return nullptr;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL;
    if (address.ipv6) flags |= MHD_USE_IPv6;
    if (tls) flags |= MHD_USE_TLS;
    MHD_OptionItem tlsOptions[] = {
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(endpoint->key.c_str())},
        {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(endpoint->cert.c_str())},
        {MHD_OPTION_END, 0, nullptr}};
    MHD_OptionItem none[] = {{MHD_OPTION_END, 0, nullptr}};
    endpoint->daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, Answer, endpoint.get(), MHD_OPTION_LISTEN_SOCKET, listening,
        MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kRequestLimit, MHD_OPTION_THREAD_POOL_SIZE, kThreads,
        MHD_OPTION_ARRAY, tls ? tlsOptions : none, MHD_OPTION_END);
    if (endpoint->daemon == nullptr) {
        close(listening);
        *error = tls ? "the server did not start: check the TLS certificate and key"
                     : "the server did not start";
        return nullptr;
    }
    return endpoint.release();
}

void PublishMetrics(MetricsEndpoint* endpoint, std::string text) {
    Text published = std::make_shared<const std::string>(std::move(text));
    std::lock_guard<std::mutex> guard(endpoint->lock);
    endpoint->text.swap(published);
}

void StopMetricsEndpoint(MetricsEndpoint* endpoint) {
    if (endpoint == nullptr) return;
    MHD_stop_daemon(endpoint->daemon);
    delete endpoint;
}
