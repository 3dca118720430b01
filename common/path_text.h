// Splitting the product's Windows paths as text. Portable: no Windows header.
#pragma once

#include <string>

// The folder part of `path` with its trailing separator, ready to take a
// file name ("C:\Scans\" for "C:\Scans\page.bmp", "C:\" for "C:\page.bmp"),
// or "" for a bare file name. Both separators count.
inline std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
