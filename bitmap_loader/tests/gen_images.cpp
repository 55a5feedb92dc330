// Writes the images that the test module's resources hold (see images.rc) into a directory.
// Built and run on the build machine, also for the Windows builds.
#include <image_writer.h>

#include <cstdio>
#include <string>

using namespace test_images;

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
    const bool ok =
        Write(dir, "alpha.png",
              WritePng(Image(Content::kGradientAlpha, 13, 9), PngKind::kRgba, false)) &&
        Write(dir, "blocks.jpg", WriteJpeg(Image(Content::kBlocks, 24, 16), false, false)) &&
        Write(dir, "palette.gif", WriteGif(Image(Content::kPalette, 11, 7), false)) &&
        Write(dir, "gradient24.bmp", WriteBmp(Image(Content::kGradient, 7, 5), 24, false)) &&
        Write(dir, "gradient32.bmp", WriteBmp(Image(Content::kGradient, 6, 4), 32, false)) &&
        Write(dir, "gradient.tif",
              WriteTiff(Image(Content::kGradient, 9, 6), false, false, false)) &&
        Write(dir, "icon.ico",
              WriteIco({{16, 16, 32, WriteIconDib(Image(Content::kGradientAlpha, 16, 16), 32)}})) &&
        Write(dir, "garbage.bin", garbage);
    if (!ok)
        std::perror(dir.c_str());
    return ok ? 0 : 1;
}
