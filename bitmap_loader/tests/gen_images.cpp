// Writes the images that the test module's resources hold (see images.rc) into a directory.
// Built and run on the build machine, also for the Windows builds.
#include "image_writer.h"

#include <cstdio>
#include <string>

using namespace pellisk_test;

static bool Write(const std::string& dir, const char* name, const Bytes& bytes) {
    const std::string path = dir + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_images DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const Bytes garbage = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    const bool ok = Write(dir, "alpha.png", WritePng(Content::kGradientAlpha, 13, 9)) &&
                    Write(dir, "blocks.jpg", WriteJpeg(24, 16)) &&
                    Write(dir, "palette.gif", WriteGif(11, 7)) &&
                    Write(dir, "gradient24.bmp", WriteBmp(Content::kGradient, 7, 5, 24)) &&
                    Write(dir, "gradient32.bmp", WriteBmp(Content::kGradient, 6, 4, 32)) &&
                    Write(dir, "gradient.tif", WriteTiff(Content::kGradient, 9, 6)) &&
                    Write(dir, "icon.ico", WriteIco(Content::kGradientAlpha, 16)) &&
                    Write(dir, "garbage.bin", garbage);
    if (!ok)
        std::perror(dir.c_str());
    return ok ? 0 : 1;
}
