#include "web_config.h"

#include <crypt.h>
#include <yaml-cpp/yaml.h>

#include <cstring>
#include <fstream>
#include <memory>

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool Readable(const std::string& path) {
    return std::ifstream(path).good();
}

bool ReadTls(const YAML::Node& node, const std::string& folder, WebConfig* config,
             std::string* error) {
    if (!node.IsMap()) {
        *error = "tls_server_config is not a map";
        return false;
    }
    for (const auto& entry : node) {
        const std::string key = entry.first.as<std::string>();
        std::string* target = key == "cert_file"  ? &config->certFile
                              : key == "key_file" ? &config->keyFile
                                                  : nullptr;
        if (target == nullptr) {
            *error = "tls_server_config: unknown key " + key;
            return false;
        }
        *target = entry.second.as<std::string>();
        if (!target->empty() && (*target)[0] != '/') *target = folder + *target;
        if (!Readable(*target)) {
            *error = "tls_server_config: " + key + " " + *target + " cannot be read";
            return false;
        }
    }
    if (config->certFile.empty() || config->keyFile.empty()) {
        *error = "tls_server_config needs both cert_file and key_file";
        return false;
    }
    return true;
}

bool ReadUsers(const YAML::Node& node, WebConfig* config, std::string* error) {
    if (!node.IsMap()) {
        *error = "basic_auth_users is not a map";
        return false;
    }
    for (const auto& entry : node) {
        const std::string user = entry.first.as<std::string>();
        const std::string hash = entry.second.as<std::string>();
        if (user.empty() || user.find(':') != std::string::npos || hash.rfind("$2", 0) != 0) {
            *error = "basic_auth_users: " + user + " needs a name without ':' and a bcrypt hash";
            return false;
        }
        config->users[user] = hash;
    }
    return true;
}

}  // namespace

bool ReadWebConfig(const std::string& path, WebConfig* config, std::string* error) {
    *config = WebConfig{};
    try {
        if (!Readable(path)) {
            *error = path + " cannot be read";
            return false;
        }
        const YAML::Node root = YAML::LoadFile(path);
        if (root.IsNull()) return true;  // an empty file asks for nothing
        if (!root.IsMap()) {
            *error = path + " is not a map of settings";
            return false;
        }
        for (const auto& entry : root) {
            const std::string key = entry.first.as<std::string>();
            bool ok;
            if (key == "tls_server_config")
                ok = ReadTls(entry.second, FolderOf(path), config, error);
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

bool PasswordMatches(const std::string& password, const std::string& hash) {
    auto data = std::make_unique<crypt_data>();  // large: not on a server thread's stack
    memset(data.get(), 0, sizeof *data);
    const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
    if (computed == nullptr || computed[0] == '*') return false;
    // Compared in full whatever the first difference, so that timing tells nothing.
    const size_t length = strlen(computed);
    if (length != hash.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < length; ++i)
        difference |= static_cast<unsigned char>(computed[i] ^ hash[i]);
    return difference == 0;
}
