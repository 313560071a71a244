#include "cli/DemoImage.h"

#include <array>
#include <cstdlib>

namespace qbcli {

namespace {

struct Rgb {
  uint16_t red, green, blue;
};

constexpr std::array<Rgb, 8> kPalette{{
    {32768, 32768, 32768},  // white
    {32768, 4096, 2048},    // red
    {3000, 32768, 4000},    // green
    {4096, 8192, 32768},    // blue
    {32768, 30000, 4000},   // yellow
    {4000, 32768, 32768},   // cyan
    {32768, 4000, 30000},   // magenta
    {32768, 18000, 2000},   // orange
}};

// A fixed linear congruential sequence: std:: distributions differ between
// standard libraries, and the demo must not.
class Sequence {
 public:
  uint32_t Next(uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  }

 private:
  uint32_t state = 20240611u;
};

// `gain` scales the colour of a float image only: lights there are brighter
// than white, as in a linear HDR frame.
void Plot(Image& image, int32_t x, int32_t y, const Rgb& c, float gain) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
  if (image.IsFloat()) {
    const float scale = gain / 32768.0f;
    float* p = image.FloatAt(x, y);
    p[0] = 1.0f, p[1] = c.red * scale, p[2] = c.green * scale, p[3] = c.blue * scale;
  } else {
    uint16_t* p = image.At(x, y);
    p[0] = 32768, p[1] = c.red, p[2] = c.green, p[3] = c.blue;
  }
}

void Line(Image& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const Rgb& c) {
  constexpr float kLineGain = 2.0f;
  const int32_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int32_t err = dx + dy;
  for (;;) {
    Plot(image, x0, y0, c, kLineGain);
    if (x0 == x1 && y0 == y1) break;
    const int32_t e2 = 2 * err;
    if (e2 >= dy) err += dy, x0 += sx;
    if (e2 <= dx) err += dx, y0 += sy;
  }
}

}  // namespace

Image MakeDemoImage(Depth depth) {
  if (depth == Depth::Bits8) return ToDepth(MakeDemoImage(Depth::Bits16), depth);
  Image image(kDemoWidth, kDemoHeight, Depth::Bits16);
  const int32_t w = kDemoWidth - 1, h = kDemoHeight - 1;
  for (int32_t y = 0; y < kDemoHeight; ++y) {
    for (int32_t x = 0; x < kDemoWidth; ++x) {
      uint16_t* p = image.At(x, y);
      const bool transparent = x >= 1080 && y >= 560;
      p[0] = transparent ? 0 : 32768;
      p[1] = static_cast<uint16_t>(900 + 2600 * x / w);
      p[2] = static_cast<uint16_t>(700 + 1200 * y / h);
      p[3] = static_cast<uint16_t>(2200 + 2400 * (w - x + y) / (w + h));
    }
  }
  if (depth == Depth::Float) image = ToDepth(image, depth);

  Line(image, 80, 120, 400, 120, kPalette[1]);
  Line(image, 1000, 80, 1000, 400, kPalette[2]);
  Line(image, 200, 600, 600, 380, kPalette[5]);
  Line(image, 700, 650, 1200, 200, kPalette[6]);
  Line(image, 480, 60, 880, 260, kPalette[4]);
  Line(image, 60, 300, 60, 680, kPalette[0]);

  Sequence random;
  for (int i = 0; i < 160; ++i) {
    const int32_t x = 16 + static_cast<int32_t>(random.Next(kDemoWidth - 32));
    const int32_t y = 16 + static_cast<int32_t>(random.Next(kDemoHeight - 32));
    const Rgb& c = kPalette[random.Next(kPalette.size())];
    const int32_t r = i % 3 == 0 ? 1 : 0;
    const float gain = r == 1 ? 16.0f : 4.0f;
    for (int32_t dy = -r; dy <= r; ++dy) {
      for (int32_t dx = -r; dx <= r; ++dx) Plot(image, x + dx, y + dy, c, gain);
    }
  }
  return image;
}

}  // namespace qbcli
