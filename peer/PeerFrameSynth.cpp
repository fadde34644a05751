#include "peer/PeerFrameSynth.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace
{
constexpr int STAMP_BITS = 32;

struct PeerCanvas
{
    uint8_t* Pixels;
    int Width;
    int Height;
};

struct PeerColor
{
    uint8_t R, G, B;
};

uint32_t PrivateHash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

void PrivatePixelSet(PeerCanvas& canvas, int x, int y, PeerColor c)
{
    uint8_t* p = canvas.Pixels + (static_cast<size_t>(y) * canvas.Width + x) * 4;
    p[0] = c.B;
    p[1] = c.G;
    p[2] = c.R;
    p[3] = 255;
}

// Fills [x0, x1) x [y0, y1), clipped to the canvas.
void PrivateRectFill(PeerCanvas& canvas, int x0, int y0, int x1, int y1, PeerColor c)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, canvas.Width);
    y1 = std::min(y1, canvas.Height);
    if (x0 >= x1 || y0 >= y1)
    {
        return;
    }
    for (int x = x0; x < x1; ++x)
    {
        PrivatePixelSet(canvas, x, y0, c);
    }
    const uint8_t* first = canvas.Pixels + (static_cast<size_t>(y0) * canvas.Width + x0) * 4;
    const size_t bytes = static_cast<size_t>(x1 - x0) * 4;
    for (int y = y0 + 1; y < y1; ++y)
    {
        std::memcpy(canvas.Pixels + (static_cast<size_t>(y) * canvas.Width + x0) * 4, first, bytes);
    }
}

// One line of text-like glyphs: 5x7 dot patterns in 6x9 cells, with word gaps,
// drawn from x0 up to x1 (exclusive) with the top of the cells at y0.
void PrivateTextDraw(PeerCanvas& canvas, int x0, int y0, int x1, int y1, uint32_t seed, PeerColor c)
{
    if (y0 + 9 > y1)
    {
        return;
    }
    int glyphs = (x1 - x0) / 6;
    for (int g = 0; g < glyphs; ++g)
    {
        uint32_t h = PrivateHash(seed * 131u + static_cast<uint32_t>(g));
        if (h % 7 == 0)
        {
            continue; // a space between words
        }
        // Each glyph has a vertical stem and a few horizontal bars, like letters.
        int stem = static_cast<int>(h >> 3) % 5;
        for (int row = 0; row < 7; ++row)
        {
            for (int col = 0; col < 5; ++col)
            {
                bool bar =
                    (row == 0 && (h & 0x100)) || (row == 3 && (h & 0x200)) || (row == 6 && (h & 0x400));
                bool dot = ((h >> (11 + (row * 5 + col) % 21)) & 1) && (h & 0x800000) && col == 4 - stem % 5;
                if (col == stem || bar || dot)
                {
                    int x = x0 + g * 6 + col;
                    int y = y0 + 1 + row;
                    if (x >= 0 && x < canvas.Width && y >= 0 && y < canvas.Height)
                    {
                        PrivatePixelSet(canvas, x, y, c);
                    }
                }
            }
        }
    }
}

void PrivateWindowDraw(PeerCanvas& canvas, int x0, int y0, int x1, int y1, uint32_t seed, PeerColor title,
                       PeerColor body, PeerColor ink)
{
    const PeerColor frame = {90, 90, 96};
    const PeerColor white = {250, 250, 250};
    PrivateRectFill(canvas, x0, y0, x1, y1, frame);
    int titleBottom = std::min(y1, y0 + 14);
    PrivateRectFill(canvas, x0 + 1, y0 + 1, x1 - 1, titleBottom, title);
    PrivateTextDraw(canvas, x0 + 6, y0 + 3, x1 - 40, titleBottom, seed, white);
    // Close, maximise and minimise buttons.
    for (int b = 0; b < 3; ++b)
    {
        int bx = x1 - 12 - b * 12;
        PrivateRectFill(canvas, bx, y0 + 4, bx + 8, std::min(titleBottom, y0 + 12),
                        b == 0 ? PeerColor{200, 40, 40} : PeerColor{180, 180, 190});
    }
    PrivateRectFill(canvas, x0 + 1, titleBottom, x1 - 1, y1 - 1, body);
    for (int line = 0, y = titleBottom + 4; y + 9 < y1 - 1; ++line, y += 12)
    {
        int indent = static_cast<int>(PrivateHash(seed + 7u * static_cast<uint32_t>(line)) % 4) * 12;
        int end = x1 - 6 - static_cast<int>(PrivateHash(seed ^ static_cast<uint32_t>(line)) % 60);
        PrivateTextDraw(canvas, x0 + 6 + indent, y, end, y1 - 1, seed * 977u + static_cast<uint32_t>(line),
                        ink);
    }
}
} // namespace

int PeerFrameStampCellSize(int width)
{
    return std::clamp(width / 40, 2, 8);
}

namespace
{
// Everything that does not move: drawn once per size and then copied.
void PrivateBackgroundDraw(int width, int height, uint8_t* bgrx)
{
    PeerCanvas canvas = {bgrx, width, height};

    // Wallpaper: a smooth diagonal gradient.
    std::vector<uint8_t> green(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x)
    {
        green[static_cast<size_t>(x)] = static_cast<uint8_t>(60 + 90 * x / width);
    }
    for (int y = 0; y < height; ++y)
    {
        uint8_t* row = bgrx + static_cast<size_t>(y) * width * 4;
        uint8_t r = static_cast<uint8_t>(30 + 70 * y / height);
        uint8_t b = static_cast<uint8_t>(110 + 120 * y / height);
        for (int x = 0; x < width; ++x)
        {
            row[x * 4 + 0] = b;
            row[x * 4 + 1] = green[static_cast<size_t>(x)];
            row[x * 4 + 2] = r;
            row[x * 4 + 3] = 255;
        }
    }

    // Two still windows.
    PrivateWindowDraw(canvas, width * 5 / 100, height * 8 / 100, width * 55 / 100, height * 70 / 100, 11,
                      {0, 90, 160}, {245, 245, 245}, {20, 20, 20});
    int w2x0 = width * 40 / 100;
    int w2y0 = height * 30 / 100;
    int w2x1 = width * 92 / 100;
    int w2y1 = height * 88 / 100;
    PrivateWindowDraw(canvas, w2x0, w2y0, w2x1, w2y1, 23, {60, 60, 60}, {230, 236, 242}, {30, 40, 80});
    // A photo-like picture inside the second window: smooth colour ramps.
    int px0 = w2x0 + (w2x1 - w2x0) / 2;
    int py0 = w2y0 + 20;
    int px1 = w2x1 - 8;
    int py1 = w2y1 - 8;
    for (int y = std::max(py0, 0); y < std::min(py1, height); ++y)
    {
        for (int x = std::max(px0, 0); x < std::min(px1, width); ++x)
        {
            int u = (x - px0) * 255 / std::max(1, px1 - px0);
            int v = (y - py0) * 255 / std::max(1, py1 - py0);
            PrivatePixelSet(
                canvas, x, y,
                {static_cast<uint8_t>(u), static_cast<uint8_t>(v), static_cast<uint8_t>(255 - (u + v) / 2)});
        }
    }

    // Taskbar.
    int barTop = height - std::max(2, height / 20);
    PrivateRectFill(canvas, 0, barTop, width, height, {32, 32, 36});
    for (int i = 0; i < 6; ++i)
    {
        int bx = 4 + i * std::max(8, width / 12);
        PrivateRectFill(canvas, bx, barTop + 2, bx + std::max(4, width / 14), height - 2,
                        i == 2 ? PeerColor{70, 110, 170} : PeerColor{55, 55, 62});
    }
}

struct PeerBackground
{
    int Width;
    int Height;
    std::shared_ptr<const std::vector<uint8_t>> Pixels;
};

// A few recently used sizes; g_BackgroundLock guards the list.
std::mutex g_BackgroundLock;
std::vector<PeerBackground> g_Backgrounds;
constexpr size_t BACKGROUND_CACHE_SIZES = 4;

std::shared_ptr<const std::vector<uint8_t>> PrivateBackgroundGet(int width, int height)
{
    {
        std::lock_guard<std::mutex> guard(g_BackgroundLock);
        for (const PeerBackground& b : g_Backgrounds)
        {
            if (b.Width == width && b.Height == height)
            {
                return b.Pixels;
            }
        }
    }
    auto pixels = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(width) * height * 4);
    PrivateBackgroundDraw(width, height, pixels->data());
    std::lock_guard<std::mutex> guard(g_BackgroundLock);
    if (g_Backgrounds.size() >= BACKGROUND_CACHE_SIZES)
    {
        g_Backgrounds.erase(g_Backgrounds.begin());
    }
    g_Backgrounds.push_back({width, height, pixels});
    return pixels;
}
} // namespace

void PeerFrameSynth(int width, int height, uint32_t frameNumber, uint8_t* bgrx, PeerMotion motion)
{
    if (width <= 0 || height <= 0 || bgrx == nullptr)
    {
        return;
    }
    std::shared_ptr<const std::vector<uint8_t>> background = PrivateBackgroundGet(width, height);
    if (motion == PeerMotion::Window)
    {
        std::memcpy(bgrx, background->data(), background->size());
    }
    else
    {
        // About 8 rows and columns a frame at 1080p, in proportion elsewhere.
        const auto w = static_cast<uint64_t>(width);
        const auto h = static_cast<uint64_t>(height);
        const size_t dx = static_cast<size_t>(frameNumber * std::max<uint64_t>(1, w / 240) % w);
        const size_t dy = static_cast<size_t>(frameNumber * std::max<uint64_t>(1, h / 135) % h);
        const size_t pitch = static_cast<size_t>(width) * 4;
        for (size_t y = 0; y < h; ++y)
        {
            const uint8_t* from = background->data() + (y + dy) % h * pitch;
            uint8_t* to = bgrx + y * pitch;
            std::memcpy(to, from + dx * 4, pitch - dx * 4);
            std::memcpy(to + pitch - dx * 4, from, dx * 4);
        }
    }
    PeerCanvas canvas = {bgrx, width, height};

    // The moving window goes back and forth along the lower half.
    int mw = std::max(8, width / 5);
    int mh = std::max(8, height / 4);
    int span = std::max(1, width - mw);
    int speed = std::max(1, width / 120);
    int travel =
        static_cast<int>((static_cast<uint64_t>(frameNumber) * speed) % (2 * static_cast<uint64_t>(span)));
    int mx = travel < span ? travel : 2 * span - travel;
    int my = height * 55 / 100;
    PrivateWindowDraw(canvas, mx, my, mx + mw, my + mh, 1000u + frameNumber % 97u, {120, 40, 140},
                      {250, 248, 230}, {60, 20, 20});

    // Frame stamp, least significant bit first.
    int cell = PeerFrameStampCellSize(width);
    for (int bit = 0; bit < STAMP_BITS; ++bit)
    {
        uint8_t level = ((frameNumber >> bit) & 1) ? 255 : 0;
        PrivateRectFill(canvas, bit * cell, 0, (bit + 1) * cell, cell, {level, level, level});
    }
}

bool PeerFrameStampRead(const uint8_t* pixels, int width, int height, size_t pitch, int bytesPerPixel,
                        uint32_t& frameNumber)
{
    int cell = PeerFrameStampCellSize(width);
    if (pixels == nullptr || (bytesPerPixel != 3 && bytesPerPixel != 4) || cell * STAMP_BITS > width ||
        cell > height)
    {
        return false;
    }
    uint32_t value = 0;
    for (int bit = 0; bit < STAMP_BITS; ++bit)
    {
        const uint8_t* p = pixels + static_cast<size_t>(cell / 2) * pitch +
                           static_cast<size_t>(bit * cell + cell / 2) * bytesPerPixel;
        if (p[1] >= 128)
        {
            value |= 1u << bit;
        }
    }
    frameNumber = value;
    return true;
}
