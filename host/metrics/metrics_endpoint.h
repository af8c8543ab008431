// The HTTP endpoint Prometheus scrapes: /metrics serves the latest published exposition,
// / a page that links to it. A scrape never calls the plug-in, and no client, however slow
// or large its request, holds up the polling or the other clients: each connection has a
// thread of its own, with caps on connections (128, 16 from one address: beyond them a
// request is answered 503), on a request's size (64 KiB) and time (5 s), and on an idle
// connection (10 s).
#pragma once

#include <string>

#include "listen_address.h"
#include "web_config.h"

struct MetricsEndpoint;

// Binds and starts serving `firstText` until the first Publish. Null, with one line in
// `error`, when the address cannot be bound (a port in use) or TLS cannot be had.
MetricsEndpoint* StartMetricsEndpoint(const ListenAddress& address, const WebConfig& config,
                                      const std::string& firstText, std::string* error);
// Makes `text` what every later scrape gets.
void PublishMetrics(MetricsEndpoint* endpoint, std::string text);
// The endpoint's own families as exposition text: the connections its caps refused.
std::string EndpointFamilies(MetricsEndpoint* endpoint);
// Stops serving: no new connection is taken, the ones in progress are closed.
void StopMetricsEndpoint(MetricsEndpoint* endpoint);
