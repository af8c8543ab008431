#include "metrics_output.h"

#include <cstdio>

#include "platform.h"
#if defined(ZARMITE_HOST_ENDPOINT)
#include "metrics_endpoint.h"
#include "process_metrics.h"
#endif

bool MetricsOutput::Start(const HostOptions& options) {
    if (options.textfile != nullptr) {
        // Refused now rather than failing each round: a device, a folder or a link at the
        // path would be replaced by a regular file, and a folder that cannot take the file
        // would leave the collector nothing, silently.
        std::string why;
        if (!plat_file_replaceable(options.textfile, &why)) {
            fprintf(stderr, "zarmite-host: --textfile %s: %s\n", options.textfile, why.c_str());
            return false;
        }
        textfile_ = options.textfile;
    }
    if (options.serve == nullptr) return true;
#if defined(ZARMITE_HOST_ENDPOINT)
    ListenAddress address;
    std::string error;
    WebConfig config;
    if (!ParseListenAddress(options.serve, &address, &error) ||
        (options.webConfig != nullptr && !ReadWebConfig(options.webConfig, &config, &error))) {
        fprintf(stderr, "zarmite-host: %s\n", error.c_str());
        return false;
    }
    for (const std::string& warning : config.warnings)
        fprintf(stderr, "zarmite-host: warning: %s\n", warning.c_str());
    endpoint_ = StartMetricsEndpoint(address, config, Exposition::BeforeFirstRound(), &error);
    if (endpoint_ == nullptr) {
        fprintf(stderr, "zarmite-host: %s\n", error.c_str());
        return false;
    }
    url_ = std::string(config.certFile.empty() ? "http://" : "https://") +
           (address.ipv6 ? "[" + address.host + "]" : address.host) + ":" +
           std::to_string(address.port) + "/metrics";
    return true;
#else
    fprintf(stderr, "zarmite-host: --serve is in the Linux build only; here use --textfile\n");
    return false;
#endif
}

void MetricsOutput::SetSources(const std::vector<HostSource>& sources) {
    exposition_ = std::make_unique<Exposition>(sources);
    if (!Active()) return;
    std::string where;
    if (!url_.empty()) where = "serving at " + url_;
    if (!textfile_.empty())
        where += (where.empty() ? "writing to " : " and writing to ") + textfile_;
    fprintf(stderr, "zarmite-host: %s, %u source%s\n", where.c_str(),
            static_cast<unsigned>(sources.size()), sources.size() == 1 ? "" : "s");
    if (sources.empty())
        fprintf(stderr,
                "zarmite-host: warning: the plug-in offers no source (has it a configuration "
                "beside it?); only the host's own metrics are exported\n");
}

void MetricsOutput::Take(const HostRound& round) {
    if (!Active() || exposition_ == nullptr) return;
    std::string text = exposition_->Take(round);
    if (!textfile_.empty()) {
        const bool written = plat_file_replace(textfile_.c_str(), text);
        if (!written && !textfileFailing_)
            fprintf(stderr, "zarmite-host: %s could not be written; trying again each round\n",
                    textfile_.c_str());
        textfileFailing_ = !written;
        textfileWritten_ = textfileWritten_ || written;
    }
#if defined(ZARMITE_HOST_ENDPOINT)
    if (endpoint_ != nullptr)
        PublishMetrics(endpoint_, text + ProcessFamilies() + EndpointFamilies(endpoint_));
#endif
}

void MetricsOutput::Stop() {
#if defined(ZARMITE_HOST_ENDPOINT)
    StopMetricsEndpoint(endpoint_);
#endif
    endpoint_ = nullptr;
    // A collector must not report a stopped host's last round as current.
    if (textfileWritten_) plat_file_remove(textfile_.c_str());
    textfileWritten_ = false;
}
