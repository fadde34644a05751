#pragma once
// What the GL renderers need to know about the context they run on: OpenGL
// 3.3 core or OpenGL ES 3.0 (the machines without desktop GL, such as
// many ARM boards, offer ES only). The renderers use the common part of the
// two; where they differ it is handled here:
// - shaders: "#version 330 core", or "#version 300 es" with explicit
//   precision (highp: 8-bit channels and texture coordinates of a 4K screen
//   must come out exact);
// - pixel transfers in B, G, R, A order: desktop GL reads and writes GL_BGRA
//   directly; ES guarantees only GL_RGBA, so the red and blue bytes are
//   exchanged on the CPU (these transfers are pointer-sized or snapshots,
//   never the per-frame upload, which goes as GL_RGBA and is swizzled by the
//   shaders on both);
// - GL_TEXTURE_LOD_BIAS exists on desktop GL only (its default 0 is what is
//   wanted), anisotropic filtering is core from desktop 4.6 and an extension
//   otherwise.
//
// Threads: every call needs a current context, on the renderer's GL thread.
#include <cstdint>

class PSRendererGLApi
{
public:
    // The current context is OpenGL 3.3 core or later (*es false) or OpenGL
    // ES 3.0 or later (*es true); otherwise false, with the line
    // "<owner> failed! OpenGL <version>, 33 or ES 30 needed".
    static bool CurrentCheck(const char* owner, bool* es);
    // The version line (and the precision statements) to put before a
    // shader's body.
    static const char* ShaderHeaderGet(bool es);
    // Compiles header + body; 0 on failure, logged as "<owner> glCompileShader
    // failed! <name> <info log>".
    static uint32_t ShaderCompile(uint32_t type, bool es, const char* body, const char* owner,
                                  const char* name);
    // Whether the current context draws on the CPU (Mesa's llvmpipe, softpipe
    // or the classic swrast), where every drawn pixel costs processor time.
    static bool SoftwareRasteriserIs();
    // Whether anisotropic filtering can be set on the current context.
    static bool AnisotropySupportedGet(bool es);

    // Reads width x height pixels at (x, y) of the bound read framebuffer as
    // B, G, R, A, rows packed; returns the GL error or 0.
    static int PixelsReadBgra(int x, int y, int width, int height, uint8_t* pixels);
    // Writes width x height B, G, R, A pixels (rows packed) into the bound
    // GL_RGBA8 texture at (x, y); returns the GL error or 0.
    static int TextureWriteBgra(int x, int y, int width, int height, const uint8_t* pixels);
};
