// zal_shader_picture: compares a screenshot of a gradient panel's client area with the band model of
// controls/Gradient, natively on the build machine. The model is the one the host tests pin to the
// panel's worked values, so a difference here is the window painting something else.
//
//   zal_shader_picture SHOT.ppm [--from C] [--to C] [--from-mirror C] [--to-mirror C] [--horizontal]
//                      [--exclude X,Y,W,H]... [--model-out MODEL.ppm]
//                      [--white-mask INK.ppm --at X,Y] [--covered X,Y,W,H]
//
// SHOT.ppm is the client area only (binary PPM, maxval 255); colours are 0x00BBGGRR values, decimal or 0x
// hex. It prints "compared=N differences=D" and the first few differing pixels, and, with --white-mask,
// "white_mismatches=M shot_white=S ink_white=I" comparing where the shot is pure white inside the rectangle
// at X,Y of the mask's size with where the mask is pure white, plus the shot's first white column and row
// there. With --covered it prints "edge_same=E edge=N inner_same=I inner=M inner_mode=R,G,B": how many
// pixels of the rectangle's outermost ring and of its inside equal the model, and the commonest colour
// inside with its count, inner_mode_count=C. Exit status 2 means bad input; the verdict is the caller's.
#include "core/Gradient.h"
#include "testkit/BandPicture.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <iterator>
#include <string>
#include <vector>

namespace zal {
namespace {

using testkit::PixelBuffer;
using testkit::RasteriseBands;

struct Rect {
    int X = 0;
    int Y = 0;
    int W = 0;
    int H = 0;
    bool Contains(int x, int y) const { return x >= X && x < X + W && y >= Y && y < Y + H; }
};

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "zal_shader_picture: %s\n", message.c_str());
    std::exit(2);
}

// Binary PPM with maxval 255; comments are not expected from ImageMagick's writer.
PixelBuffer ReadPpm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Die("cannot read " + path);
    }
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    if (magic != "P6" || width <= 0 || height <= 0 || maxval != 255) {
        Die(path + " is not an 8-bit binary PPM");
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < static_cast<size_t>(width) * height * 3) {
        Die(path + " is truncated");
    }
    PixelBuffer picture(width, height, 0);
    for (size_t i = 0; i < picture.Pixels.size(); ++i) {
        picture.Pixels[i] =
            bytes[3 * i] | (bytes[3 * i + 1] << 8) | (static_cast<std::uint32_t>(bytes[3 * i + 2]) << 16);
    }
    return picture;
}

void WritePpm(const std::string& path, const PixelBuffer& picture) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << picture.Width << ' ' << picture.Height << "\n255\n";
    for (std::uint32_t pixel : picture.Pixels) {
        const Rgb rgb = SplitRgb(pixel);
        out.put(static_cast<char>(rgb.Red))
            .put(static_cast<char>(rgb.Green))
            .put(static_cast<char>(rgb.Blue));
    }
    if (!out) {
        Die("cannot write " + path);
    }
}

TColor ParseColor(const std::string& text) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') {
        Die("not a colour: " + text);
    }
    return static_cast<TColor>(static_cast<std::uint32_t>(value));
}

std::vector<int> ParseInts(const std::string& text, size_t count) {
    std::vector<int> values;
    const char* p = text.c_str();
    while (*p) {
        char* end = nullptr;
        values.push_back(static_cast<int>(std::strtol(p, &end, 10)));
        if (end == p) {
            Die("not a number list: " + text);
        }
        p = *end == ',' ? end + 1 : end;
    }
    if (values.size() != count) {
        Die("expected " + std::to_string(count) + " numbers: " + text);
    }
    return values;
}

void PrintPixel(const char* kind, int x, int y, std::uint32_t got, std::uint32_t want) {
    const Rgb g = SplitRgb(got);
    const Rgb w = SplitRgb(want);
    std::printf("%s x=%d y=%d got=%d,%d,%d want=%d,%d,%d\n", kind, x, y, g.Red, g.Green, g.Blue, w.Red,
                w.Green, w.Blue);
}

int Main(int argc, char** argv) {
    if (argc < 2) {
        Die("usage: zal_shader_picture SHOT.ppm [options]");
    }
    std::string shotPath = argv[1];
    TColor from = clBlue, to = clBlack, fromMirror = clNone, toMirror = clNone;
    GradientAxis axis = GradientAxis::Vertical;
    std::vector<Rect> excluded, covered;
    std::string modelOut, maskPath;
    std::vector<int> maskAt;
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--horizontal") {
            axis = GradientAxis::Horizontal;
            continue;
        }
        if (i + 1 >= argc) {
            Die(option + " needs a value");
        }
        std::string value = argv[++i];
        if (option == "--from") {
            from = ParseColor(value);
        } else if (option == "--to") {
            to = ParseColor(value);
        } else if (option == "--from-mirror") {
            fromMirror = ParseColor(value);
        } else if (option == "--to-mirror") {
            toMirror = ParseColor(value);
        } else if (option == "--exclude") {
            std::vector<int> v = ParseInts(value, 4);
            excluded.push_back({v[0], v[1], v[2], v[3]});
        } else if (option == "--model-out") {
            modelOut = value;
        } else if (option == "--white-mask") {
            maskPath = value;
        } else if (option == "--at") {
            maskAt = ParseInts(value, 2);
        } else if (option == "--covered") {
            std::vector<int> v = ParseInts(value, 4);
            covered.push_back({v[0], v[1], v[2], v[3]});
        } else {
            Die("unknown option " + option);
        }
    }

    const PixelBuffer shot = ReadPpm(shotPath);
    // Where the panel draws nothing the comparison must fail, so the background is no gradient colour.
    constexpr std::uint32_t NothingDrawn = 0xFF00FF;
    const BandRect bounds{0, 0, shot.Width, shot.Height};
    const auto noSystemColours = [](int) -> std::uint32_t { Die("system colours are not modelled here"); };
    const PixelBuffer model =
        RasteriseBands(MirrorGradient(bounds, from, to, fromMirror, toMirror, axis, noSystemColours),
                       shot.Width, shot.Height, NothingDrawn);
    if (!modelOut.empty()) {
        WritePpm(modelOut, model);
    }

    long compared = 0, differences = 0;
    for (int y = 0; y < shot.Height; ++y) {
        for (int x = 0; x < shot.Width; ++x) {
            bool skip = false;
            for (const Rect& r : excluded) {
                skip = skip || r.Contains(x, y);
            }
            if (skip) {
                continue;
            }
            ++compared;
            if (shot.At(x, y) != model.At(x, y) && ++differences <= 5) {
                PrintPixel("diff", x, y, shot.At(x, y), model.At(x, y));
            }
        }
    }
    std::printf("compared=%ld differences=%ld\n", compared, differences);

    if (!maskPath.empty()) {
        if (maskAt.size() != 2) {
            Die("--white-mask needs --at X,Y");
        }
        const PixelBuffer ink = ReadPpm(maskPath);
        constexpr std::uint32_t White = 0xFFFFFF;
        long mismatches = 0, shotWhite = 0, inkWhite = 0;
        int firstColumn = -1, firstRow = -1;
        for (int y = 0; y < ink.Height; ++y) {
            for (int x = 0; x < ink.Width; ++x) {
                const int sx = maskAt[0] + x, sy = maskAt[1] + y;
                const bool inShot = sx >= 0 && sy >= 0 && sx < shot.Width && sy < shot.Height;
                const bool shotIsWhite = inShot && shot.At(sx, sy) == White;
                const bool inkIsWhite = ink.At(x, y) == White;
                shotWhite += shotIsWhite;
                inkWhite += inkIsWhite;
                if (shotIsWhite) {
                    firstColumn = firstColumn < 0 || sx < firstColumn ? sx : firstColumn;
                    firstRow = firstRow < 0 || sy < firstRow ? sy : firstRow;
                }
                if (shotIsWhite != inkIsWhite && ++mismatches <= 5) {
                    PrintPixel("white", sx, sy, inShot ? shot.At(sx, sy) : 0, ink.At(x, y));
                }
            }
        }
        std::printf("white_mismatches=%ld shot_white=%ld ink_white=%ld first_white_x=%d first_white_y=%d\n",
                    mismatches, shotWhite, inkWhite, firstColumn, firstRow);
    }
    for (const Rect& r : covered) {
        long edgeSame = 0, edge = 0, innerSame = 0, inner = 0;
        std::map<std::uint32_t, long> innerColours;
        for (int y = std::max(r.Y, 0); y < std::min(r.Y + r.H, shot.Height); ++y) {
            for (int x = std::max(r.X, 0); x < std::min(r.X + r.W, shot.Width); ++x) {
                const bool same = shot.At(x, y) == model.At(x, y);
                if (x == r.X || y == r.Y || x == r.X + r.W - 1 || y == r.Y + r.H - 1) {
                    ++edge;
                    edgeSame += same;
                } else {
                    ++inner;
                    innerSame += same;
                    ++innerColours[shot.At(x, y)];
                }
            }
        }
        std::uint32_t mode = 0;
        long modeCount = -1;
        for (const auto& [colour, count] : innerColours) {
            if (count > modeCount) {
                mode = colour;
                modeCount = count;
            }
        }
        const Rgb m = SplitRgb(mode);
        std::printf(
            "edge_same=%ld edge=%ld inner_same=%ld inner=%ld inner_mode=%d,%d,%d inner_mode_count=%ld\n",
            edgeSame, edge, innerSame, inner, m.Red, m.Green, m.Blue, modeCount);
    }
    return 0;
}

} // namespace
} // namespace zal

int main(int argc, char** argv) {
    return zal::Main(argc, argv);
}
