// Picture names and folder walks that need no operating system: the
// extension of a format code, the bounded name formatting, and the walk
// along a folder path that creates its directories one level at a time.
// Portable: no Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "product_files.h"

// ".bmp", ".jpg", ".tif" or ".png" by the low 16 bits of the format code.
// A code outside 0..3 saves as BMP: lossless, and the extension is the only
// sign of the format the image library then gets.
const char *FormatExtension(uint32_t formatCode);

// Writes "folder\prefixNNNNN.ext" (at least five digits) into `name`. False,
// with `name` empty, when the whole name does not fit in `capacity` bytes: a
// cut name could equal an existing picture.
bool FormatPictureName(char *name, size_t capacity, const char *folder, const char *prefix, unsigned number,
                       const char *extension);

// A folder path walked component by component (split at every backslash).
// The path built so far and the depth are the walk's whole state.
struct FolderWalk {
    const char *rest;          // what is still to be walked; null once done
    char built[PATH_CAPACITY]; // components so far, each followed by a backslash
    size_t length;
    unsigned depth; // components appended so far
};

void BeginFolderWalk(FolderWalk *walk, const char *path);
// Appends the next component. True while there was one; `directory` then
// names the directory to create (the built path without its last
// backslash), or is null for the first component, normally the drive, which
// is never created. A path longer than the walk can hold ends the walk at the
// last component that fit. Clears the walk when it reaches the end.
bool NextFolderLevel(FolderWalk *walk, const char **directory);
