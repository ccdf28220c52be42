#include "app/tickwatch.h"

int main(int argc, char **argv) { run_tickwatch(argc, argv); }
