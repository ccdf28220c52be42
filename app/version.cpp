#include "app/version.h"

#include <cstdio>
#include <cstring>

#include "output/output.h"
#include "platform/platform.h"

// Writes the product version held in a version resource block into buffer;
// false when the block has no fixed version record.
static bool format_product_version(const void *block, char *buffer) {
    void *value = nullptr;
    uint32_t value_length = 0;
    if (!platform::VerQueryValueA(block, "\\", &value, &value_length) || value == nullptr ||
        value_length < sizeof(FixedFileInfo)) {
        return false;
    }
    FixedFileInfo info;
    std::memcpy(&info, value, sizeof info);

    const unsigned major = info.dwProductVersionMS >> 16;
    const unsigned minor = info.dwProductVersionMS & 0xFFFFU;
    if (info.dwProductVersionLS == 0) {
        std::snprintf(buffer, MESSAGE_BUFFER_SIZE, "%u.%u", major, minor);
    } else {
        std::snprintf(buffer, MESSAGE_BUFFER_SIZE, "%u.%u.%u.%u", major, minor, info.dwProductVersionLS >> 16,
                      info.dwProductVersionLS & 0xFFFFU);
    }
    if (std::strcmp(buffer, BUILT_IN_VERSION) != 0) {
        const size_t length = std::strlen(buffer);
        std::snprintf(buffer + length, MESSAGE_BUFFER_SIZE - length, " (!)");
    }
    return true;
}

char *get_version_string(char *buffer) {
    buffer[0] = '\0';

    char path[MAX_PATH_LENGTH];
    uint32_t path_length = platform::GetModuleFileNameA(path, sizeof path);
    if (path_length == 0 || path_length >= sizeof path) {  // failed, or cut short
        return buffer;
    }

    uint32_t size = platform::GetFileVersionInfoSizeA(path);
    if (size == 0) {  // no version resource
        std::snprintf(buffer, MESSAGE_BUFFER_SIZE, "%s", BUILT_IN_VERSION);
        return buffer;
    }

    void *block = platform::allocate(size);
    if (block == nullptr) {
        return buffer;
    }
    if (!platform::GetFileVersionInfoA(path, size, block) || !format_product_version(block, buffer)) {
        buffer[0] = '\0';
    }
    platform::release(block);
    return buffer;
}
