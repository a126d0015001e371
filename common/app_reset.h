// Host programs that run the core many times in one process (the tests, the
// fuzz targets, the benchmark) put the process-wide record back between
// runs: its strings released, both files unbound, every flag and counter of
// a run at zero, no I/O error pending. The stub runs the core once and has
// no use for it.
#pragma once

void resetAppForNextRun();
