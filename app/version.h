// The program's version: compiled in, and carried by the 32-bit build's
// version resource, which includes this header too. Its two numbers come from
// CMake's project(VERSION), as compile definitions.
#pragma once

#if !defined(TICKWATCH_VERSION_MAJOR) || !defined(TICKWATCH_VERSION_MINOR)
#error "TICKWATCH_VERSION_MAJOR and TICKWATCH_VERSION_MINOR come from the build (CMakeLists.txt)"
#endif

#define TICKWATCH_VERSION_TEXT_(major, minor) #major "." #minor
#define TICKWATCH_VERSION_TEXT(major, minor) TICKWATCH_VERSION_TEXT_(major, minor)
#define TICKWATCH_RESOURCE_TEXT_(major, minor) #major ", " #minor ", 0, 0"
#define TICKWATCH_RESOURCE_TEXT(major, minor) TICKWATCH_RESOURCE_TEXT_(major, minor)

#define BUILT_IN_VERSION TICKWATCH_VERSION_TEXT(TICKWATCH_VERSION_MAJOR, TICKWATCH_VERSION_MINOR)
// The resource's file and product version strings.
#define VERSION_RESOURCE_TEXT TICKWATCH_RESOURCE_TEXT(TICKWATCH_VERSION_MAJOR, TICKWATCH_VERSION_MINOR)

#ifndef RC_INVOKED
// Writes the version text into buffer (at least MESSAGE_BUFFER_SIZE
// characters) and returns buffer. The text is the product version of the
// program's own version resource, marked " (!)" where it differs from
// BUILT_IN_VERSION; BUILT_IN_VERSION where there is no resource; empty where
// the resource cannot be read.
char *get_version_string(char *buffer);
#endif
