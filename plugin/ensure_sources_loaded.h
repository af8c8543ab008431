#pragma once

// Reads the configuration beside the module when g_sources is empty, and with it
// "LoggingLevel". A configuration that yields no sources is read again on the next call.
void EnsureSourcesLoaded();
