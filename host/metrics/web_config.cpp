#include "web_config.h"

#include <gnutls/x509.h>
#include <sys/stat.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <cstring>
#include <ctime>
#include <sstream>

#include "host_text.h"
#include "platform.h"

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// A regular file of at most kMaxWebFileBytes: a pipe, a device or a huge file is refused
// before anything is read from it.
bool ReadSmallFile(const std::string& path, std::string* out, std::string* error) {
    switch (plat_file_read(path.c_str(), kMaxWebFileBytes, *out)) {
        case PlatReadResult::kRead:
            return true;
        case PlatReadResult::kTooLarge:
            *error = path + " is larger than " + std::to_string(kMaxWebFileBytes) + " bytes";
            return false;
        default:
            *error = path + " cannot be read as a regular file";
            return false;
    }
}

bool IsMap(const YAML::Node& node, const char* name, std::string* error) {
    if (node.IsMap()) return true;
    *error = std::string(name) + " is not a map";
    return false;
}

// The keys of a map, each once: a key given twice is refused rather than one taken.
bool UniqueKeys(const YAML::Node& node, const char* name, std::string* error) {
    std::map<std::string, bool> seen;
    for (const auto& entry : node) {
        const std::string key = entry.first.as<std::string>();
        if (seen[key]) {
            *error = std::string(name) + ": " + key + " is given twice";
            return false;
        }
        seen[key] = true;
    }
    return true;
}

bool ReadNamedFile(const YAML::Node& value, const std::string& folder, const std::string& key,
                   std::string* path, std::string* content, std::string* error) {
    *path = value.as<std::string>();
    if (!path->empty() && (*path)[0] != '/') *path = folder + *path;
    if (ReadSmallFile(*path, content, error)) return true;
    *error = "tls_server_config: " + key + " " + *error;
    return false;
}

bool ReadClientAuth(const std::string& text, ClientAuth* out) {
    static const std::pair<const char*, ClientAuth> kTypes[] = {
        {"NoClientCert", ClientAuth::kNone},
        {"VerifyClientCertIfGiven", ClientAuth::kVerifyIfGiven},
        {"RequireAndVerifyClientCert", ClientAuth::kRequireAndVerify}};
    for (const auto& type : kTypes)
        if (text == type.first) {
            *out = type.second;
            return true;
        }
    return false;
}

// TLS10 to TLS13 as a position in the list of versions; -1 for anything else.
int TlsVersion(const std::string& text) {
    static const char* const kVersions[] = {"TLS10", "TLS11", "TLS12", "TLS13"};
    for (int i = 0; i < 4; ++i)
        if (text == kVersions[i]) return i;
    return -1;
}

std::string Priorities(int lowest, int highest) {
    static const char* const kNames[] = {"+VERS-TLS1.0", "+VERS-TLS1.1", "+VERS-TLS1.2",
                                         "+VERS-TLS1.3"};
    std::string priorities = "NORMAL:-VERS-ALL";
    for (int version = lowest; version <= highest; ++version)
        priorities += std::string(":") + kNames[version];
    return priorities;
}

// Whether the PEM certificate's validity has ended; false when it cannot be read (the
// TLS library then refuses it when the server starts).
bool CertificateExpired(const std::string& pem) {
    gnutls_x509_crt_t certificate;
    if (gnutls_x509_crt_init(&certificate) < 0) return false;
    gnutls_datum_t data{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                        static_cast<unsigned>(pem.size())};
    bool expired = false;
    if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_PEM) >= 0) {
        const time_t end = gnutls_x509_crt_get_expiration_time(certificate);
        expired = end != static_cast<time_t>(-1) && end < time(nullptr);
    }
    gnutls_x509_crt_deinit(certificate);
    return expired;
}

bool ReadTls(const YAML::Node& node, const std::string& folder, WebConfig* config,
             std::string* error) {
    if (!IsMap(node, "tls_server_config", error) || !UniqueKeys(node, "tls_server_config", error))
        return false;
    std::string clientCaFile;
    int lowest = 2, highest = 3;  // TLS 1.2 and 1.3 unless asked otherwise
    for (const auto& entry : node) {
        const std::string key = entry.first.as<std::string>();
        if (key == "cert_file" || key == "key_file" || key == "client_ca_file") {
            const bool cert = key == "cert_file", ca = key == "client_ca_file";
            if (!ReadNamedFile(entry.second, folder, key,
                               cert ? &config->certFile
                               : ca ? &clientCaFile
                                    : &config->keyFile,
                               cert ? &config->cert
                               : ca ? &config->clientCa
                                    : &config->key,
                               error))
                return false;
        } else if (key == "client_auth_type") {
            if (!ReadClientAuth(entry.second.as<std::string>(), &config->clientAuth)) {
                *error = "tls_server_config: client_auth_type " + entry.second.as<std::string>() +
                         " is none of NoClientCert, VerifyClientCertIfGiven, "
                         "RequireAndVerifyClientCert (a certificate taken unverified proves "
                         "nothing)";
                return false;
            }
        } else if (key == "min_version" || key == "max_version") {
            const int version = TlsVersion(entry.second.as<std::string>());
            if (version < 0) {
                *error = "tls_server_config: " + key + " " + entry.second.as<std::string>() +
                         " is none of TLS10, TLS11, TLS12, TLS13";
                return false;
            }
            (key == "min_version" ? lowest : highest) = version;
        } else {
            *error = "tls_server_config: unknown key " + key;
            return false;
        }
    }
    if (config->certFile.empty() || config->keyFile.empty()) {
        *error = "tls_server_config needs both cert_file and key_file";
        return false;
    }
    const bool verifies = config->clientAuth == ClientAuth::kVerifyIfGiven ||
                          config->clientAuth == ClientAuth::kRequireAndVerify;
    if (verifies != !clientCaFile.empty()) {
        *error = verifies ? "tls_server_config: client_auth_type " +
                                std::string(config->clientAuth == ClientAuth::kVerifyIfGiven
                                                ? "VerifyClientCertIfGiven"
                                                : "RequireAndVerifyClientCert") +
                                " needs client_ca_file"
                          : "tls_server_config: client_ca_file needs a client_auth_type that "
                            "verifies (VerifyClientCertIfGiven or RequireAndVerifyClientCert)";
        return false;
    }
    if (lowest > highest) {
        *error = "tls_server_config: min_version is above max_version";
        return false;
    }
    config->tlsPriorities = Priorities(lowest, highest);
    if (CertificateExpired(config->cert))
        config->warnings.push_back("the certificate " + config->certFile + " has expired");
    struct stat info;
    if (stat(config->keyFile.c_str(), &info) == 0 && (info.st_mode & S_IROTH) != 0)
        config->warnings.push_back("the key " + config->keyFile +
                                   " can be read by every user of this machine");
    return true;
}

// A header name as HTTP has it (letters, digits, '-'), and none that the server itself
// must set for the response to read right.
bool UsableHeader(const std::string& name, const std::string& value) {
    static const char* const kServerOwned[] = {"content-length",   "content-type",
                                               "connection",       "transfer-encoding",
                                               "www-authenticate", "date"};
    if (name.empty() || name.size() > 100 || value.size() > 4096) return false;
    for (char c : name)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '-')) return false;
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    std::string lower;
    for (char c : name) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (const char* owned : kServerOwned)
        if (lower == owned) return false;
    return true;
}

bool ReadHttp(const YAML::Node& node, WebConfig* config, std::string* error) {
    if (!IsMap(node, "http_server_config", error) || !UniqueKeys(node, "http_server_config", error))
        return false;
    for (const auto& entry : node) {
        const std::string key = entry.first.as<std::string>();
        if (key != "headers") {
            *error = "http_server_config: unknown key " + key;
            return false;
        }
        if (!IsMap(entry.second, "http_server_config: headers", error) ||
            !UniqueKeys(entry.second, "http_server_config: headers", error))
            return false;
        for (const auto& header : entry.second) {
            const std::string name = header.first.as<std::string>();
            const std::string value = header.second.as<std::string>();
            if (!UsableHeader(name, value)) {
                *error = "http_server_config: headers: " + name +
                         " is no header name, is one the server sets, or has a value with "
                         "control characters";
                return false;
            }
            config->headers.emplace_back(name, value);
        }
    }
    return true;
}

bool ReadUsers(const YAML::Node& node, WebConfig* config, std::string* error) {
    if (!IsMap(node, "basic_auth_users", error) || !UniqueKeys(node, "basic_auth_users", error))
        return false;
    for (const auto& entry : node) {
        const std::string user = entry.first.as<std::string>();
        const std::string hash = entry.second.as<std::string>();
        if (user.empty() || user.find(':') != std::string::npos ||
            user.find('\0') != std::string::npos) {
            *error = "basic_auth_users: a user name is empty or holds ':'";
            return false;
        }
        std::string atCostTen = hash;  // a hash as it should be, but for its cost
        if (atCostTen.size() > 6) atCostTen.replace(4, 2, "10");
        // bcrypt's costs run to 31.
        if (!WellFormedBcryptHash(hash) && WellFormedBcryptHash(atCostTen) &&
            hash.compare(4, 2, "04") > 0 && hash.compare(4, 2, "31") <= 0) {
            *error = "basic_auth_users: " + user + ": the hash's cost is " + hash.substr(4, 2) +
                     ", above the " + std::to_string(kMaxBcryptCost) +
                     " this host takes (each check would take seconds of a core): make it "
                     "again with a cost of 12 or less";
            return false;
        }
        if (!WellFormedBcryptHash(hash)) {
            *error = "basic_auth_users: " + user +
                     ": the hash is not a bcrypt hash ($2a$, $2b$ or $2y$, a cost from 04 to " +
                     std::to_string(kMaxBcryptCost) + ", then 53 characters)";
            return false;
        }
        config->users[user] = hash;
    }
    return true;
}

}  // namespace

bool WellFormedBcryptHash(const std::string& hash) {
    if (hash.size() != 60 || hash[0] != '$' || hash[1] != '2' || hash[3] != '$' || hash[6] != '$' ||
        strchr("aby", hash[2]) == nullptr || !isdigit(hash[4] & 0xff) || !isdigit(hash[5] & 0xff))
        return false;
    const int cost = (hash[4] - '0') * 10 + (hash[5] - '0');
    if (cost < 4 || cost > kMaxBcryptCost) return false;
    for (size_t i = 7; i < hash.size(); ++i)
        if (!(isalnum(static_cast<unsigned char>(hash[i])) || hash[i] == '.' || hash[i] == '/'))
            return false;
    return true;
}

bool ReadWebConfig(const std::string& path, WebConfig* config, std::string* error) {
    *config = WebConfig{};
    std::string text;
    if (!ReadSmallFile(path, &text, error)) return false;
    return ParseWebConfig(text, FolderOf(path), path, config, error);
}

namespace {

// Takes the parser's events and drops them: enough to count documents.
class NoEvents : public YAML::EventHandler {
public:
    void OnDocumentStart(const YAML::Mark&) override {}
    void OnDocumentEnd() override {}
    void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
    void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
    void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  const std::string&) override {}
    void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                         YAML::EmitterStyle::value) override {}
    void OnSequenceEnd() override {}
    void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                    YAML::EmitterStyle::value) override {}
    void OnMapEnd() override {}
};

// Whether the text reads as more than one YAML document. Counted one at a time and never
// past the second: on some malformed texts (a document that starts with ",") the YAML
// library reads empty documents for ever, so it is never asked to read them all.
bool SeveralDocuments(const std::string& text) {
    std::stringstream stream(text);
    YAML::Parser parser(stream);
    NoEvents none;
    int documents = 0;
    while (documents < 2 && parser.HandleNextDocument(none)) ++documents;
    return documents > 1;
}

bool Parse(const std::string& text, const std::string& folder, const std::string& path,
           WebConfig* config, std::string* error) {
    *config = WebConfig{};
    try {
        if (SeveralDocuments(text)) {
            *error = path + " holds more than one YAML document";
            return false;
        }
        const YAML::Node root = YAML::Load(text);
        if (root.IsNull()) return true;  // asks for nothing
        if (!root.IsMap()) {
            *error = path + " is not a map of settings";
            return false;
        }
        if (!UniqueKeys(root, path.c_str(), error)) return false;
        for (const auto& entry : root) {
            const std::string key = entry.first.as<std::string>();
            bool ok;
            if (key == "tls_server_config")
                ok = ReadTls(entry.second, folder, config, error);
            else if (key == "http_server_config")
                ok = ReadHttp(entry.second, config, error);
            else if (key == "basic_auth_users")
                ok = ReadUsers(entry.second, config, error);
            else {
                *error = "unknown key " + key;
                ok = false;
            }
            if (!ok) {
                *error = path + ": " + *error;
                return false;
            }
        }
        return true;
    } catch (const std::exception& exception) {
        *error = path + ": " + exception.what();
        return false;
    }
}

}  // namespace

bool ParseWebConfig(const std::string& text, const std::string& folder, const std::string& path,
                    WebConfig* config, std::string* error) {
    // Errors and warnings quote the file: shown with escapes, so that they stay one line
    // and a control character in the file never reaches the terminal.
    const bool parsed = Parse(text, folder, path, config, error);
    if (!parsed) *error = PrintableText(*error);
    for (std::string& warning : config->warnings) warning = PrintableText(warning);
    return parsed;
}
