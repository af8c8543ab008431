#include "metrics_endpoint.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "basic_auth.h"
#include "connection_caps.h"
#include "exposition.h"
#include "request_deadlines.h"

namespace {

// Each connection has a thread of its own, so that a slow client or a password check
// holds up no other request. Beyond the caps a request is answered 503 at once, not
// queued (connection_caps.h).
constexpr unsigned kMaxConnections = 128;
constexpr unsigned kMaxConnectionsPerAddress = 16;
constexpr char kRetryAfterSeconds[] = "1";
constexpr unsigned kIdleSeconds = 10;
constexpr auto kRequestTime = std::chrono::seconds(5);
constexpr size_t kRequestLimit = 64 * 1024;

const char kIndexPage[] =
    "<!DOCTYPE html>\n<html><head><title>zarmite-host</title></head>\n"
    "<body><h1>zarmite-host</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";
const char kExpositionType[] = "text/plain; version=0.0.4; charset=utf-8";

using Text = std::shared_ptr<const std::string>;

unsigned ParallelPasswordChecks() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 2 ? cores / 2 : 1;
}

}  // namespace

struct MetricsEndpoint {
    explicit MetricsEndpoint(const WebConfig& webConfig)
        : config(webConfig),
          auth(webConfig.users, ParallelPasswordChecks()),
          deadlines(kRequestTime, std::chrono::seconds(kIdleSeconds) + kRequestTime),
          caps(kMaxConnections, kMaxConnectionsPerAddress) {}

    MHD_Daemon* daemon = nullptr;
    std::mutex lock;  // the latest text, swapped once a round
    Text text;
    const WebConfig config;  // the server keeps pointers to its certificate and key
    BasicAuth auth;
    RequestDeadlines deadlines;
    ConnectionCaps caps;
};

namespace {

MHD_Result Send(MetricsEndpoint* endpoint, MHD_Connection* connection, unsigned status,
                MHD_Response* response, const char* type, const char* allow = nullptr) {
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    for (const auto& header : endpoint->config.headers)
        MHD_add_response_header(response, header.first.c_str(), header.second.c_str());
    MHD_Result result;
    if (status == MHD_HTTP_UNAUTHORIZED)
        result = MHD_queue_basic_auth_fail_response(connection, "zarmite-host", response);
    else
        result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result Queue(MetricsEndpoint* endpoint, MHD_Connection* connection, unsigned status,
                 const char* body, const char* type, const char* allow = nullptr) {
    MHD_Response* response = MHD_create_response_from_buffer(strlen(body), const_cast<char*>(body),
                                                             MHD_RESPMEM_PERSISTENT);
    return Send(endpoint, connection, status, response, type, allow);
}

void ReleaseText(void* text) {
    delete static_cast<Text*>(text);
}

// What marks a connection beyond a cap, as its socket's context.
char g_refusedMark;

MHD_Result QueueRefusal(MetricsEndpoint* endpoint, MHD_Connection* connection) {
    static const char kBody[] = "Service Unavailable: too many connections; try again\n";
    MHD_Response* response = MHD_create_response_from_buffer(
        strlen(kBody), const_cast<char*>(kBody), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, kRetryAfterSeconds);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    return Send(endpoint, connection, MHD_HTTP_SERVICE_UNAVAILABLE, response, "text/plain");
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
    return Send(endpoint, connection, MHD_HTTP_OK, response, kExpositionType);
}

// Whether the client's certificate is as the configuration asks: present where it is
// required, and signed by the client CA wherever one is given.
bool ClientCertificateAccepted(const MetricsEndpoint* endpoint, MHD_Connection* connection) {
    const ClientAuth asked = endpoint->config.clientAuth;
    if (asked == ClientAuth::kNone) return true;
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    if (info == nullptr || info->tls_session == nullptr) return false;
    const auto session = static_cast<gnutls_session_t>(info->tls_session);
    unsigned count = 0;
    const bool given = gnutls_certificate_get_peers(session, &count) != nullptr && count > 0;
    if (!given) return asked == ClientAuth::kVerifyIfGiven;
    unsigned status = 0;
    return gnutls_certificate_verify_peers2(session, &status) == GNUTLS_E_SUCCESS && status == 0;
}

MHD_Result Answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t*, void** requestState) {
    MetricsEndpoint* endpoint = static_cast<MetricsEndpoint*>(context);
    if (*requestState == nullptr) {
        // Later calls for the same request are not its arrival; they find its verdict.
        endpoint->deadlines.RequestArrived(connection);
        *requestState = endpoint->caps.RequestArrived(connection) ? static_cast<void*>(endpoint)
                                                                  : &g_refusedMark;
    }
    if (*requestState == &g_refusedMark) return QueueRefusal(endpoint, connection);
    if (!ClientCertificateAccepted(endpoint, connection))
        return Queue(endpoint, connection, MHD_HTTP_FORBIDDEN,
                     "Forbidden: a client certificate that this server trusts is needed\n",
                     "text/plain");
    switch (endpoint->auth.Check(
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION))) {
        case AuthVerdict::kGood:
            break;
        case AuthVerdict::kBad:
            return Queue(endpoint, connection, MHD_HTTP_UNAUTHORIZED, "Unauthorized\n",
                         "text/plain");
        case AuthVerdict::kBusy:
            return Queue(endpoint, connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                         "Service Unavailable: too many password checks; try again\n",
                         "text/plain");
    }
    const bool index = strcmp(url, "/") == 0;
    const bool metrics = strcmp(url, "/metrics") == 0;
    if (!index && !metrics)
        return Queue(endpoint, connection, MHD_HTTP_NOT_FOUND, "Not Found\n", "text/plain");
    if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return Queue(endpoint, connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed\n",
                     "text/plain", "GET, HEAD");
    if (index)
        return Queue(endpoint, connection, MHD_HTTP_OK, kIndexPage, "text/html; charset=utf-8");
    return QueueMetrics(endpoint, connection);
}

void ConnectionEvent(void* context, MHD_Connection* connection, void**,
                     MHD_ConnectionNotificationCode event) {
    MetricsEndpoint* endpoint = static_cast<MetricsEndpoint*>(context);
    if (event == MHD_CONNECTION_NOTIFY_CLOSED) {
        endpoint->deadlines.Closed(connection);
        endpoint->caps.Closed(connection);
        return;
    }
    const MHD_ConnectionInfo* address =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    endpoint->caps.Started(connection,
                           ClientAddressKey(address != nullptr ? address->client_addr : nullptr));
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info != nullptr) endpoint->deadlines.Opened(connection, info->connect_fd);
}

// Beyond twice a cap a connection is closed as soon as it is accepted: the listening
// socket keeps being served, so that even a flood's client learns it at once instead of
// waiting in the backlog. (The server's own limit, above this one, is never reached.)
MHD_Result AcceptConnection(void* context, const sockaddr* address, socklen_t) {
    return static_cast<MetricsEndpoint*>(context)->caps.MayAccept(ClientAddressKey(address))
               ? MHD_YES
               : MHD_NO;
}

void RequestEnded(void* context, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    static_cast<MetricsEndpoint*>(context)->deadlines.Answered(connection);
    static_cast<MetricsEndpoint*>(context)->caps.Answered(connection);
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
    // [::] takes IPv4 too (dual stack); any other IPv6 address only itself.
    const int v6Only = address.host == "::" ? 0 : 1;
    if (address.ipv6) setsockopt(listening, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
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
    auto endpoint = std::unique_ptr<MetricsEndpoint>(new (std::nothrow) MetricsEndpoint(config));
    if (endpoint == nullptr) {
        *error = "out of memory";
        return nullptr;
    }
    endpoint->text = std::make_shared<const std::string>(firstText);
    const bool tls = !config.certFile.empty();
    if (tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
        *error = "this system's HTTP library has no TLS";
        return nullptr;
    }
    const int listening = Listen(address, error);
    if (listening < 0) return nullptr;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL;
    if (address.ipv6) flags |= MHD_USE_IPv6;
    if (tls) flags |= MHD_USE_TLS;
    const WebConfig& kept = endpoint->config;
    MHD_OptionItem tlsOptions[] = {
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(kept.key.c_str())},
        {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(kept.cert.c_str())},
        {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kept.tlsPriorities.c_str())},
        // A client CA makes the server ask each client for its certificate.
        {kept.clientCa.empty() ? MHD_OPTION_END : MHD_OPTION_HTTPS_MEM_TRUST, 0,
         const_cast<char*>(kept.clientCa.c_str())},
        {MHD_OPTION_END, 0, nullptr}};
    MHD_OptionItem none[] = {{MHD_OPTION_END, 0, nullptr}};
    endpoint->deadlines.Start();
    endpoint->daemon = MHD_start_daemon(
        flags, 0, AcceptConnection, endpoint.get(), Answer, endpoint.get(),
        // The server counts a connection until it has cleaned up after it, later than the
        // caps do: its own limit is set well above theirs.
        MHD_OPTION_LISTEN_SOCKET, listening, MHD_OPTION_CONNECTION_LIMIT, 4 * kMaxConnections,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kRequestLimit, MHD_OPTION_NOTIFY_CONNECTION, ConnectionEvent, endpoint.get(),
        MHD_OPTION_NOTIFY_COMPLETED, RequestEnded, endpoint.get(), MHD_OPTION_ARRAY,
        tls ? tlsOptions : none, MHD_OPTION_END);
    if (endpoint->daemon == nullptr) {
        endpoint->deadlines.Stop();
        close(listening);
        *error = tls ? "the server did not start: check the TLS certificate, key and client CA"
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

std::string EndpointFamilies(MetricsEndpoint* endpoint) {
    std::string out;
    FamilyHeader(out, "zarmite_endpoint_refused_connections_total", "counter",
                 "Connections refused for the endpoint's caps on connections (answered 503, "
                 "or beyond twice a cap closed unanswered)");
    out += "zarmite_endpoint_refused_connections_total " +
           std::to_string(endpoint->caps.Refused()) + "\n";
    return out;
}

void StopMetricsEndpoint(MetricsEndpoint* endpoint) {
    if (endpoint == nullptr) return;
    endpoint->auth.Stop();  // requests waiting for a password check end at once
    MHD_stop_daemon(endpoint->daemon);
    endpoint->deadlines.Stop();
    delete endpoint;
}
