#include "app/run_settings.h"

RunSettings run_settings;
