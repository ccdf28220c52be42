#include "analyze/analyze.h"

int main(int argc, char **argv) { return run_analyze(argc, argv); }
