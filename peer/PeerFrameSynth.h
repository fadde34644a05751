#pragma once
// The peer's synthetic desktop: a gradient wallpaper, flat windows with title
// bars and text-like strokes, a smooth picture, a taskbar, a window that moves
// with the frame number, and a frame stamp (the frame number as 32 black or
// white cells along the top-left edge). The picture is a pure function of
// (width, height, frame number, motion), so tests and benchmarks can regenerate
// exactly what the peer sent. Thread-safe: the still part of the picture is
// drawn once per size into a small cache guarded by its own lock.
#include <cstddef>
#include <cstdint>

enum class PeerMotion
{
    Window, // only the moving window (and the stamp) change from frame to frame
    // The whole desktop pans diagonally under the moving window, wrapping
    // round at the edges, as when a full-screen page scrolls or a video
    // plays: no part of the screen stays still.
    Full,
};

// Writes width x height pixels, 4 bytes each in B, G, R, X (X = 255) order,
// rows packed at pitch 4 * width.
void PeerFrameSynth(int width, int height, uint32_t frameNumber, uint8_t* bgrx,
                    PeerMotion motion = PeerMotion::Window);

// Side of one frame-stamp cell in pixels for a picture of this width.
int PeerFrameStampCellSize(int width);

// Reads the frame stamp back from a picture (e.g. one a viewer decoded);
// tolerant of lossy coding. `bytesPerPixel` 4 (BGRX/BGRA) or 3 (RGB): the
// green channel is read either way. False when the picture is too small
// to hold the stamp.
bool PeerFrameStampRead(const uint8_t* pixels, int width, int height, size_t pitch, int bytesPerPixel,
                        uint32_t& frameNumber);
