// The web configuration file that Prometheus exporters share: TLS and basic
// authentication for the metrics endpoint.
//
//   tls_server_config:
//     cert_file: server.crt   # relative paths are taken from the file's own folder
//     key_file: server.key
//   basic_auth_users:
//     alice: $2y$10$...      # a bcrypt hash
#pragma once

#include <map>
#include <string>

struct WebConfig {
    std::string certFile;  // both empty: no TLS
    std::string keyFile;
    std::map<std::string, std::string> users;  // user name to bcrypt hash; empty: no auth
};

// Reads the file. False, with one line in `error`, when it cannot be read or parsed,
// names a key this host does not know, or names a file that cannot be read: a server
// never starts without the protection it was asked for.
bool ReadWebConfig(const std::string& path, WebConfig* config, std::string* error);

// Whether `password` matches the bcrypt `hash`, checked by the system's crypt.
bool PasswordMatches(const std::string& password, const std::string& hash);
