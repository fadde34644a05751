#pragma once
// 8-bit RGB PNG files of frames (the peer's source frames, the viewer's
// snapshots), so what a viewer shows can be compared with what was sent.
// Stateless; thread-safe.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SAUtilPng
{
public:
    // Writes width x height BGRX pixels at `pitch` as RGB. The file appears
    // complete or not at all (written beside it, then renamed).
    static bool Write(const std::string& path, const uint8_t* bgrx, int width, int height, size_t pitch);
    // Reads an 8-bit RGB or RGBA PNG into packed RGB (3 bytes per pixel).
    static bool Read(const std::string& path, std::vector<uint8_t>& rgb, int& width, int& height);
};
