#pragma once
// The pointer overlay of the update-areas renderer. That renderer keeps no
// full-screen texture of the received pixels: its accumulating back buffer is
// the screen. To draw a pointer over it without leaving a trail, each present
// reads back the pixels under the pointer (BackgroundRecord), composites the
// shape onto a copy of them on the CPU and draws the result as one more
// update area (Draw), shows the picture, and then writes the recorded pixels
// back into the back buffer (BackgroundRestore). The back buffer therefore
// never holds the pointer between presents, and the next update rectangles
// land on clean pixels.
//
// Where the compositing happens: on the CPU, in Compose, a pure function over
// two pixel buffers. The GL path only reads pixels back, hands Compose's
// result to an update area and writes the saved pixels back; the arithmetic
// is tested without a GPU.
//
// Pixel layout everywhere here: 4 bytes B, G, R, A; read as a 32-bit
// little-endian value the alpha byte is the top byte. The back buffer is read
// and written in that layout through PSRendererGLApi.
//
// Threads: ShapeSet and PositionSet may come from any thread; m_Lock guards
// the position and the shape last set. BackgroundRecord, Draw and
// BackgroundRestore run on the renderer's render thread with its GL lock held
// and its context current, Release with that lock held; the shape in use, the
// recorded background and the work bitmap belong to the holder of the GL
// lock. A shape set while a present runs must not reach its Draw: the box
// was recorded for the old shape's size, and composing the new shape's rows
// into it would read past them. So the render thread takes the last shape
// set only in BackgroundRecord, at the start of a present's pointer work, and
// one present records, composites and restores with one shape. Lock order:
// the renderer's GL lock before m_Lock.
#include "render/PSRendererBase.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class PSRendererScreenUpdateArea;

class DNRPointer
{
public:
    // Shape types: monochrome (AND/XOR), colour (alpha blended), masked colour.
    static constexpr int SHAPE_TYPE_MONOCHROME = 1;
    static constexpr int SHAPE_TYPE_COLOR = 2;
    static constexpr int SHAPE_TYPE_MASKED_COLOR = 4;
    // A pointer image larger than this is refused: shapes come from the
    // network and a pointer is small.
    static constexpr int SHAPE_SIDE_MAX = 1024;

    DNRPointer();
    DNRPointer(const DNRPointer&) = delete;
    DNRPointer& operator=(const DNRPointer&) = delete;

    // Composites width x height shape pixels onto the work pixels in place.
    // visible false leaves the work unchanged (the background is drawn back
    // as it was). Type 1: a shape pixel with alpha 0 XORs the background,
    // any other replaces it. Type 4: the opposite. Type 2: alpha blending of
    // a shape whose colours are already multiplied by their alpha; a zero
    // shape pixel leaves the background; colour sums above 255 are held at
    // 255; the background's alpha stays. Any other type changes nothing.
    static void Compose(const uint8_t* shape, size_t shapePitch, int type, bool visible, uint8_t* work,
                        size_t workPitch, int width, int height);
    // The part of a width x height pointer at (x, y) that lies inside a
    // bufferWidth x bufferHeight buffer; false when nothing does.
    static bool RectangleClip(int64_t x, int64_t y, int64_t width, int64_t height, int bufferWidth,
                              int bufferHeight, PSRendererRect* clipped);

    // Copies the shape (height rows of pitch bytes from bits). A width or
    // height of 0 removes the shape. Returns true when the picture must be
    // drawn again to take an old pointer of another size off the screen.
    bool ShapeSet(int width, int height, int pitch, int type, const void* bits);
    // Position of the shape's top-left corner on a screen of resolutionX by
    // resolutionY. Nothing while the resolution is 0; a coordinate beyond the
    // screen (or negative) becomes 0. Returns whether the position was taken.
    bool PositionSet(int x, int y, bool visible, int resolutionX, int resolutionY);

    // Render thread, context current: reads the pixels under the pointer from
    // the back buffer (bound as `framebuffer`, screen row y at GL row y),
    // clipped to it. False (nothing recorded) without a shape or when the
    // pointer lies outside.
    bool BackgroundRecord(uint32_t framebuffer, int bufferWidth, int bufferHeight);
    // Composites the shape onto the recorded background and hands the result
    // to `area` for the renderer to draw. False when there is nothing to draw.
    bool Draw(PSRendererScreenUpdateArea* area, int resolutionX, int resolutionY);
    // Writes the recorded background back into the back buffer's colour
    // texture and forgets it.
    void BackgroundRestore(uint32_t texture);
    // Drops the recorded background; all also frees the shape.
    void Release(bool all);

private:
    struct Shape
    {
        int m_Width = 0;
        int m_Height = 0;
        int m_Pitch = 0;
        int m_Type = 0;
        std::vector<uint8_t> m_Bits; // height * pitch bytes
    };

    bool PrivateBitmapsAllocate(size_t bytes);

    std::mutex m_Lock;
    // Guarded by m_Lock:
    uint32_t m_X = 0;
    uint32_t m_Y = 0;
    uint8_t m_Visible = 0;
    Shape m_ShapeLast;        // the shape last set; its bits move to m_Shape when taken
    bool m_ShapeTaken = true; // m_Shape already is the shape last set

    // Render thread only (the holder of the renderer's GL lock):
    Shape m_Shape;                     // the shape of the present under way
    bool m_RecordedVisible = false;    // the visibility when m_Background was recorded
    std::vector<uint8_t> m_Background; // recorded pixels, rows of recorded width * 4 bytes
    std::vector<uint8_t> m_Work;       // background with the shape composited
    PSRendererRect m_Recorded{};       // where m_Background came from; empty when none
};
