// The program's version: compiled in, and carried by the 32-bit build's
// version resource, which includes this header too.
#pragma once

#define TICKWATCH_VERSION_MAJOR 1
#define TICKWATCH_VERSION_MINOR 6
#define BUILT_IN_VERSION "1.6"
#define VERSION_RESOURCE_TEXT "1, 6, 0, 0"  // the resource's file and product version strings

#ifndef RC_INVOKED
// Writes the version text into buffer (at least MESSAGE_BUFFER_SIZE
// characters) and returns buffer. The text is the product version of the
// program's own version resource, marked " (!)" where it differs from
// BUILT_IN_VERSION; BUILT_IN_VERSION where there is no resource; empty where
// the resource cannot be read.
char *get_version_string(char *buffer);
#endif
