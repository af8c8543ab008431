// What keeps a plug-in's sources from reading anything, as the host says it once, whatever
// its output: no counter library found (where it was looked for, how to name one), a
// plug-in without a configuration, or with one that defines no source, or sources of
// which none could be added (the library has no such counter). The host looks only at
// what the plug-in has loaded, the counter library in this process and the configuration
// beside it, and calls neither.
#pragma once

#include <string>
#include <vector>

// The file of the counter library loaded in this process, or its name where there is none
// or the system does not say.
std::string LoadedCounterLibrary();

// Why a plug-in offers no source.
std::string NoSourceReason(const char* pluginPath);

// Where a first round's every value is the plug-in's "could not be added" failure: what
// to say of it; "" otherwise.
std::string NothingAddedReason(const std::vector<float>& firstRound);
