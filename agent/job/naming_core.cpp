// Picture name formatting and the folder walk of directory creation.
#include "naming_core.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const EXTENSIONS[] = {".bmp", ".jpg", ".tif", ".png"};

void EndFolderWalk(FolderWalk *walk)
{
    walk->rest = nullptr;
    walk->built[0] = '\0';
    walk->length = 0;
    walk->depth = 0;
}

} // namespace

const char *FormatExtension(uint32_t formatCode)
{
    uint16_t code = uint16_t(formatCode);
    return code < sizeof EXTENSIONS / sizeof EXTENSIONS[0] ? EXTENSIONS[code] : EXTENSIONS[0];
}

bool FormatPictureName(char *name, size_t capacity, const char *folder, const char *prefix, unsigned number,
                       const char *extension)
{
    if (capacity == 0)
        return false;
    int length = snprintf(name, capacity, "%s\\%s%05u%s", folder, prefix, number, extension);
    if (length < 0 || size_t(length) >= capacity) {
        name[0] = '\0';
        return false;
    }
    return true;
}

void BeginFolderWalk(FolderWalk *walk, const char *path)
{
    EndFolderWalk(walk);
    walk->rest = path;
}

bool NextFolderLevel(FolderWalk *walk, const char **directory)
{
    *directory = nullptr;
    if (!walk->rest) {
        EndFolderWalk(walk);
        return false;
    }
    const char *component = walk->rest;
    const char *separator = strchr(component, '\\');
    size_t componentLength = separator ? size_t(separator - component) : strlen(component);
    // The backslash that follows the previous component goes in first.
    size_t needed = walk->length + (walk->depth ? 1 : 0) + componentLength;
    if (needed >= sizeof walk->built) {
        EndFolderWalk(walk);
        return false;
    }
    if (walk->depth)
        walk->built[walk->length++] = '\\';
    memcpy(walk->built + walk->length, component, componentLength);
    walk->length += componentLength;
    walk->built[walk->length] = '\0';
    walk->rest = separator ? separator + 1 : nullptr;
    if (walk->depth++)
        *directory = walk->built;
    return true;
}
