// Writes the plugin bundle's Turtle files into a folder at build time.
//
//     morvane-lv2-bundle FOLDER

#include <iostream>

#include "plugin/bundle_files.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: morvane-lv2-bundle FOLDER\n";
        return 2;
    }
    if (morvane::Status written = morvane::lv2::WritePluginBundle(argv[1]); !written) {
        std::cerr << "morvane-lv2-bundle: " << written.error().message << '\n';
        return 1;
    }
    return 0;
}
