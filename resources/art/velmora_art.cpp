// Draws the icons and pictures of the resource library into a folder, where
// the resource script picks them up: velmora_art OUTPUT_FOLDER
#include <cstdio>
#include <string>

#include "artwork.h"
#include "image_files.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora_art OUTPUT_FOLDER\n");
        return 2;
    }
    for (const art::GeneratedFile &file : art::GeneratedFiles()) {
        std::string path = std::string(argv[1]) + "/" + file.name;
        if (!art::WriteFileBytes(path, file.make())) {
            std::fprintf(stderr, "velmora_art: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
