// Arbitrary web configurations, as the metrics endpoint reads them at start: whatever the
// text, the reader answers with a configuration or one line of error, and never takes
// the host down (deep nesting, aliases, huge or odd values). Files it names are read
// from a folder of the fuzzer's own, where a few stand ready.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "web_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = [] {
        std::string made = "/tmp/zarmite-fuzz-web-XXXXXX";
        if (mkdtemp(&made[0]) == nullptr) abort();
        for (const char* name : {"server.crt", "server.key", "ca.crt"})
            if (FILE* file = fopen((made + "/" + name).c_str(), "w")) {
                fputs("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n", file);
                fclose(file);
            }
        return made + "/";
    }();
    WebConfig config;
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool read = ParseWebConfig(text, folder, "web.yml", &config, &error);
    if (read != error.empty() || error.find('\n') != std::string::npos) abort();
    for (const auto& user : config.users)
        if (!WellFormedBcryptHash(user.second)) abort();
    return 0;
}
