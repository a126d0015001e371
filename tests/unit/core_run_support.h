// The start of an extraction run through the core in the fault tests.
#pragma once
#include <string>

// The start of an extraction run through the core over the fault layer, as
// the stub's start-up makes it: what a fatal exit of the last run left
// behind released (the strings that outlive a run first, then the rest),
// `target` emptied and made the current folder, `archive` opened and its
// header read.
void startCoreRun(const std::string& archive, const std::string& target);
