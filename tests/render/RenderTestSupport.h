#pragma once
// Helpers shared by the renderer tests: a log capture with every category
// open, pixel patterns in the B, G, R, X order renderers receive, and the two
// kinds of off-screen context the GL suites run on.
#include "core/SALog.h"
#include "pipeline/SAPlanarPicture.h"
#include "render/PSRendererBase.h"
#include "render/PSRendererSurfaceEgl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <vector>

class RenderLogCapture
{
public:
    RenderLogCapture() : m_SavedMask(SALogMaskGet())
    {
        SALogMaskSet(0xFFFFFFFF);
        m_Id = SALogSinkAdd(
            [this](uint32_t category, std::string_view line)
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Lines.emplace_back(category, std::string(line));
            });
    }
    ~RenderLogCapture()
    {
        SALogSinkRemove(m_Id);
        SALogMaskSet(m_SavedMask);
    }
    // Number of lines of the category that contain the text.
    int Count(uint32_t category, const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        int count = 0;
        for (const auto& [lineCategory, line] : m_Lines)
            if ((lineCategory & category) != 0 && line.find(text) != std::string::npos)
                ++count;
        return count;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Lines.clear();
    }
    std::string All()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::string text;
        for (const auto& entry : m_Lines)
            text += entry.second;
        return text;
    }

private:
    uint32_t m_SavedMask;
    int m_Id = 0;
    std::mutex m_Lock;
    std::vector<std::pair<uint32_t, std::string>> m_Lines;
};

// width x height pixels of random B, G, R, X bytes at a pitch of width * 4.
inline std::vector<uint8_t> RenderPatternRandom(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (auto& byte : pixels)
        byte = static_cast<uint8_t>(random());
    return pixels;
}

// Copies a whole frame of width x height into a renderer.
inline bool RenderFrameWrite(PSRendererBase& renderer, const std::vector<uint8_t>& pixels, int width,
                             int height)
{
    PSRendererRect rect{0, 0, width, height};
    return renderer.FrameBufferPartialUpdate(pixels.data(), pixels.size(), width * 4, 21, &rect, 0);
}

// A planar 4:2:0 picture as a video decoder hands it out: rows padded beyond
// the plane widths (strides are not widths), smooth luma and chroma ramps so
// that different chroma upsamplers agree to within a few levels.
inline SAPlanarPicture RenderPlanarPicture(int width, int height, int seed)
{
    struct Planes
    {
        std::vector<uint8_t> y, u, v;
    };
    auto planes = std::make_shared<Planes>();
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    const int lumaStride = width + 32, chromaStride = chromaWidth + 16;
    planes->y.assign(static_cast<size_t>(lumaStride) * height, 0xEE);
    planes->u.assign(static_cast<size_t>(chromaStride) * chromaHeight, 0xEE);
    planes->v.assign(static_cast<size_t>(chromaStride) * chromaHeight, 0xEE);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            planes->y[static_cast<size_t>(y) * lumaStride + x] =
                static_cast<uint8_t>(16 + (x * 3 + y * 2 + seed) % 220);
    for (int y = 0; y < chromaHeight; ++y)
        for (int x = 0; x < chromaWidth; ++x)
        {
            planes->u[static_cast<size_t>(y) * chromaStride + x] = static_cast<uint8_t>(90 + (x + seed) % 60);
            planes->v[static_cast<size_t>(y) * chromaStride + x] =
                static_cast<uint8_t>(170 - (y + seed) % 60);
        }
    SAPlanarPicture picture;
    picture.Planes[0] = planes->y.data();
    picture.Planes[1] = planes->u.data();
    picture.Planes[2] = planes->v.data();
    picture.Strides[0] = lumaStride;
    picture.Strides[1] = picture.Strides[2] = chromaStride;
    picture.Width = width;
    picture.Height = height;
    picture.Owner = planes;
    return picture;
}

// The GL suites run once on an OpenGL 3.3 core context and once on an OpenGL
// ES 3.0 context: INSTANTIATE_TEST_SUITE_P(Contexts, Suite, RENDER_CONTEXTS,
// RenderContextName).
inline const auto RENDER_CONTEXTS =
    ::testing::Values(PSRendererSurfaceEgl::Api::OpenGL, PSRendererSurfaceEgl::Api::OpenGLES);
inline void PrintTo(PSRendererSurfaceEgl::Api api, std::ostream* os)
{
    *os << (api == PSRendererSurfaceEgl::Api::OpenGLES ? "OpenGL ES 3.0" : "OpenGL 3.3 core");
}
inline std::string RenderContextName(const ::testing::TestParamInfo<PSRendererSurfaceEgl::Api>& info)
{
    return info.param == PSRendererSurfaceEgl::Api::OpenGLES ? "OpenGLES" : "OpenGL";
}
