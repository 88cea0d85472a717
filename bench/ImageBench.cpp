// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// image-bench HEX-FILE: builds the download image of HEX-FILE and writes its .bin and .asc side
// files beside it, with the same code, names and refusals as an update, and prints the time it
// took. Messages go to standard error; a refusal ends with status 1.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "aspi/LowMemory.h"
#include "image/PrepareDownloadImage.h"
#include "platform/Platform.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: image-bench HEX-FILE\n");
        return 2;
    }
    platform::StderrHost host;
    platform::installHost(&host);

    // The update resolves the chosen name against the current directory, as the chooser leaves it.
    const std::string path = argv[1];
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (::chdir(directory.c_str()) != 0) {
        std::fprintf(stderr, "image-bench: can not change to %s\n", directory.c_str());
        return 2;
    }

    aspi::LowBuffers buffers;
    if (!aspi::allocateLowBuffers(buffers)) {
        std::fprintf(stderr, "%s\n", aspi::kLowMemoryMessage);
        return 2;
    }
    std::uint32_t imageLength = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool ready = image::prepareDownloadImage(name, buffers.DownloadImage, imageLength);
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    if (!ready) {
        return 1;
    }
    std::printf("\nimage of %u bytes and side files written in %.2f ms\n", imageLength,
                elapsed.count());
    return 0;
}
