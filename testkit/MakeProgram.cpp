// zal_make_program OUT [dll] [64] [machine=N] [size=BYTES] [overlay=BYTES] [variant=N]: writes a program
// image (a DLL with "dll", PE32+ for x86-64 with "64", for the COFF machine N with machine=, as 0xAA64 for
// ARM64) made by MakeProgram to OUT, for the shell suites to stage. Built natively.
#include "testkit/ProgramMaker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s OUT [dll] [64] [machine=N] [size=BYTES] [overlay=BYTES] [variant=N]\n",
                     argv[0]);
        return 2;
    }
    zal::testkit::ProgramShape shape;
    for (int k = 2; k < argc; ++k) {
        const char* arg = argv[k];
        const auto number = [&](const char* key) {
            const std::size_t length = std::strlen(key);
            return std::strncmp(arg, key, length) == 0 ? std::strtoull(arg + length, nullptr, 0) : 0ull;
        };
        if (std::strcmp(arg, "dll") == 0) {
            shape.Kind = zal::ImageKind::Library;
        } else if (std::strcmp(arg, "64") == 0) {
            shape.Pe32Plus = true;
        } else if (std::strncmp(arg, "machine=", 8) == 0) {
            shape.Machine = static_cast<std::uint16_t>(number("machine="));
        } else if (std::strncmp(arg, "size=", 5) == 0) {
            shape.Size = number("size=");
        } else if (std::strncmp(arg, "overlay=", 8) == 0) {
            shape.Overlay = number("overlay=");
        } else if (std::strncmp(arg, "variant=", 8) == 0) {
            shape.Variant = static_cast<unsigned>(number("variant="));
        } else {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], arg);
            return 2;
        }
    }
    const std::string image = zal::testkit::MakeProgram(shape);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(image.data(), 1, image.size(), out) != image.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
