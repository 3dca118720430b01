// Pagefit on a bitmap file: read it, run the core, replace it safely, and
// write "Pagefit.log" beside it.
#pragma once

#include "pagefit.h"

#include <string>

// Largest bitmap the tool loads: the file and the new page must both fit in
// a 32-bit process's memory with room for the analysis.
const unsigned long MAX_BITMAP_FILE_BYTES = 400ul * 1024 * 1024;

// The log's name, in the bitmap's folder; the agent reads it there.
extern const char PAGEFIT_LOG_NAME[];

// Runs the tool on the file at `bitmapPath` with the user's choices. The
// file is replaced only by a complete new file (written under a temporary
// name in the same folder, then moved over it); on any failure it keeps its
// bytes. Returns the log line it wrote (also when writing the log failed).
std::string PagefitBitmapFile(const std::string &bitmapPath, const pagefit::Options &options);

// The folder part of a path, with its final backslash ("" when it has none).
std::string FolderOf(const std::string &path);
