// The web configuration file that Prometheus exporters share: TLS, client certificates,
// response headers and basic authentication for the metrics endpoint.
//
//   tls_server_config:
//     cert_file: server.crt   # relative paths are taken from the file's own folder
//     key_file: server.key
//     client_auth_type: RequireAndVerifyClientCert
//     client_ca_file: clients-ca.crt
//     min_version: TLS12
//     max_version: TLS13
//   http_server_config:
//     headers:
//       Strict-Transport-Security: max-age=31536000
//   basic_auth_users:
//     alice: $2y$10$...      # a bcrypt hash
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// Hashes of a higher cost are refused: one check would hold a server thread, and the
// host's end, for seconds.
constexpr int kMaxBcryptCost = 12;
// Certificates, keys and the configuration itself are small; anything larger is a mistake.
constexpr size_t kMaxWebFileBytes = 1 << 20;

// The client certificates asked for. A certificate that is taken without being verified
// proves nothing, so the kinds that would do that are not offered.
enum class ClientAuth {
    kNone,              // NoClientCert: no certificate asked for
    kVerifyIfGiven,     // VerifyClientCertIfGiven: verified when one is sent
    kRequireAndVerify,  // RequireAndVerifyClientCert: needed and verified
};

struct WebConfig {
    std::string certFile;  // both empty: no TLS
    std::string keyFile;
    std::string cert;  // the files' contents, read at start
    std::string key;
    ClientAuth clientAuth = ClientAuth::kNone;
    std::string clientCa;       // the client CA file's content
    std::string tlsPriorities;  // for the TLS library, from min_version and max_version
    std::vector<std::pair<std::string, std::string>> headers;  // added to every response
    std::map<std::string, std::string> users;  // user name to bcrypt hash; empty: no auth
    std::vector<std::string> warnings;         // said at start: an expired certificate, an open key
};

// Reads the file. False, with one line in `error`, when it cannot be read or parsed,
// names a key this host does not know or a value it cannot use, or names a file that
// cannot be read: a server never starts without the protection it was asked for.
bool ReadWebConfig(const std::string& path, WebConfig* config, std::string* error);

// The same from the file's text; `folder` (ending in '/', or empty) is where relative
// paths start, and `path` names the file in errors.
bool ParseWebConfig(const std::string& text, const std::string& folder, const std::string& path,
                    WebConfig* config, std::string* error);

// Whether `hash` is a bcrypt hash ($2a$, $2b$ or $2y$, a cost, 53 characters of salt and
// digest) of a cost from 4 to kMaxBcryptCost.
bool WellFormedBcryptHash(const std::string& hash);
