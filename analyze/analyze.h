// tickwatch-analyze: reads tickwatch logs and writes what they amount to.
#pragma once

// Returns the exit status.
int run_analyze(int argc, char **argv);
