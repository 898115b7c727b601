// Draws Kantrel's program icon, a white database drum on a blue rounded
// square, and writes it as a Windows icon file with nine 32-bit images
// (256 down to 16 pixels). Built for the build machine and run during the
// Windows builds; the output depends only on this code.
//
//   icongen OUTPUT.ico

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr int Sizes[] = {256, 128, 96, 72, 64, 48, 32, 24, 16};
constexpr int SubSamples = 4;  // per axis, for smooth edges

struct Rgba {
    double R = 0, G = 0, B = 0, A = 0;
};

// Signed distance to a rounded box centred at (cx, cy): negative inside.
double RoundedBox(double x, double y, double cx, double cy, double halfW, double halfH, double radius) {
    const double qx = std::fabs(x - cx) - halfW + radius;
    const double qy = std::fabs(y - cy) - halfH + radius;
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

bool InEllipse(double x, double y, double cx, double cy, double rx, double ry) {
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

// The colour of one sample point of the unit square (y grows downwards).
Rgba Sample(double x, double y) {
    if (RoundedBox(x, y, 0.5, 0.5, 0.47, 0.47, 0.19) > 0)
        return {};
    // Background: a vertical blue gradient.
    const double t = std::clamp((y - 0.03) / 0.94, 0.0, 1.0);
    Rgba colour{0.23 + (0.10 - 0.23) * t, 0.51 + (0.28 - 0.51) * t, 0.96 + (0.70 - 0.96) * t, 1.0};

    // The drum: a body between two ellipses, split in three by grooves.
    constexpr double cx = 0.5, rx = 0.25, ry = 0.085, top = 0.30, bottom = 0.72;
    const bool inBody = (std::fabs(x - cx) <= rx && y >= top && y <= bottom) || InEllipse(x, y, cx, bottom, rx, ry);
    const bool inTopFace = InEllipse(x, y, cx, top, rx, ry);
    if (inBody || inTopFace) {
        colour = {1.0, 1.0, 1.0, 1.0};
        for (double groove : {top + (bottom - top) / 3, top + 2 * (bottom - top) / 3}) {
            // The lower half of an ellipse, drawn as a band of the background.
            if (y > groove && InEllipse(x, y, cx, groove, rx, ry) &&
                !InEllipse(x, y, cx, groove - 0.028, rx, ry))
                colour = {0.16, 0.40, 0.85, 1.0};
        }
        if (inTopFace)
            colour = InEllipse(x, y, cx, top, rx - 0.03, ry - 0.022) ? Rgba{0.84, 0.90, 0.99, 1.0}
                                                                     : Rgba{1.0, 1.0, 1.0, 1.0};
    }
    return colour;
}

// BGRA rows, top row first.
std::vector<std::uint8_t> Render(int size) {
    std::vector<std::uint8_t> pixels(static_cast<size_t>(size) * size * 4);
    for (int py = 0; py < size; ++py)
        for (int px = 0; px < size; ++px) {
            Rgba sum;
            for (int sy = 0; sy < SubSamples; ++sy)
                for (int sx = 0; sx < SubSamples; ++sx) {
                    const double x = (px + (sx + 0.5) / SubSamples) / size;
                    const double y = (py + (sy + 0.5) / SubSamples) / size;
                    const Rgba c = Sample(x, y);
                    sum.R += c.R * c.A;
                    sum.G += c.G * c.A;
                    sum.B += c.B * c.A;
                    sum.A += c.A;
                }
            const double n = SubSamples * SubSamples;
            std::uint8_t* out = &pixels[(static_cast<size_t>(py) * size + px) * 4];
            const double alpha = sum.A / n;
            // Straight (not premultiplied) colour, as icons store it.
            auto channel = [&](double premultiplied) {
                return static_cast<std::uint8_t>(
                    alpha > 0 ? std::lround(std::clamp(premultiplied / sum.A, 0.0, 1.0) * 255) : 0);
            };
            out[0] = channel(sum.B);
            out[1] = channel(sum.G);
            out[2] = channel(sum.R);
            out[3] = static_cast<std::uint8_t>(std::lround(alpha * 255));
        }
    return pixels;
}

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// One icon image: BITMAPINFOHEADER (height doubled), bottom-up BGRA rows,
// then the 1-bit AND mask (set where the image is fully transparent).
std::vector<std::uint8_t> IconImage(int size) {
    const std::vector<std::uint8_t> pixels = Render(size);
    const int maskStride = ((size + 31) / 32) * 4;
    std::vector<std::uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(size));
    Put32(out, static_cast<std::uint32_t>(size * 2));
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);
    Put32(out, static_cast<std::uint32_t>(size * size * 4 + maskStride * size));
    for (int i = 0; i < 4; ++i)
        Put32(out, 0);
    for (int y = size - 1; y >= 0; --y)
        out.insert(out.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y) * size * 4,
                   pixels.begin() + static_cast<std::ptrdiff_t>(y + 1) * size * 4);
    for (int y = size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(static_cast<size_t>(maskStride), 0);
        for (int x = 0; x < size; ++x)
            if (pixels[(static_cast<size_t>(y) * size + x) * 4 + 3] == 0)
                row[static_cast<size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: icongen OUTPUT.ico\n");
        return 2;
    }
    constexpr int count = static_cast<int>(sizeof Sizes / sizeof Sizes[0]);
    std::vector<std::vector<std::uint8_t>> images;
    for (int size : Sizes)
        images.push_back(IconImage(size));

    std::vector<std::uint8_t> file;
    Put16(file, 0);
    Put16(file, 1);  // icon
    Put16(file, count);
    std::uint32_t offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        file.push_back(static_cast<std::uint8_t>(Sizes[i] & 0xFF));  // 256 is stored as 0
        file.push_back(static_cast<std::uint8_t>(Sizes[i] & 0xFF));
        file.push_back(0);
        file.push_back(0);
        Put16(file, 1);
        Put16(file, 32);
        Put32(file, static_cast<std::uint32_t>(images[static_cast<size_t>(i)].size()));
        Put32(file, offset);
        offset += static_cast<std::uint32_t>(images[static_cast<size_t>(i)].size());
    }
    for (const auto& image : images)
        file.insert(file.end(), image.begin(), image.end());

    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out) {
        std::fprintf(stderr, "icongen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
