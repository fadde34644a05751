#include "render/PSRendererGLUpdateAreas.h"

#include "core/PSExceptionGuard.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "render/PSRendererGLApi.h"
#include "render/PSRendererSurface.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
// Room for 100 vertices of 36 bytes: position (3 floats), colour (4 floats),
// texture coordinate (2 floats).
constexpr GLsizeiptr VERTEX_BUFFER_BYTES = 3600;
constexpr GLsizei VERTEX_STRIDE = 36;
constexpr float WINDOW_GREY = 0.04f;

// Shader bodies: PSRendererGLApi puts the version line of the context's kind
// (desktop or ES) before them.
const char* const VERTEX_SHADER = R"(layout(location = 0) in vec3 inPosition;
layout(location = 1) in vec4 inColor;
layout(location = 2) in vec2 inTexCoord;
out vec4 color;
out vec2 texCoord;
void main()
{
    gl_Position = vec4(inPosition, 1.0);
    color = inColor;
    texCoord = inTexCoord;
}
)";

// "full32": the area texture holds the bytes B, G, R, X as R, G, B, A, so red
// and blue are exchanged on the way out. The fourth byte is undefined: the
// back buffer is kept opaque.
const char* const FRAGMENT_SHADER_FULL32 = R"(uniform sampler2D TextureSR;
uniform float TextureWidth;
uniform float TextureHeight;
uniform vec4 UpdateRect;
uniform vec4 TexelDistance;
in vec4 color;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    fragColor = vec4(texture(TextureSR, texCoord).zyx, 1.0);
}
)";

// "texturingDisabled": the interpolated corner colours.
const char* const FRAGMENT_SHADER_TEXTURING_DISABLED = R"(in vec4 color;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    fragColor = color;
}
)";

int ErrorOr(int fallback)
{
    GLenum error = glGetError();
    return error != GL_NO_ERROR ? static_cast<int>(error) : fallback;
}
} // namespace

PSRendererGLUpdateAreas::PSRendererGLUpdateAreas(std::function<uint32_t()> clock)
    : m_Clock(clock ? std::move(clock) : std::function<uint32_t()>(PSTimeGetTime)),
      m_Frame("PSRendererGLUpdateAreas"), m_PointerArea("PSRendererGLUpdateAreas")
{
    for (auto& area : m_Areas)
        area = std::make_unique<PSRendererScreenUpdateArea>("PSRendererGLUpdateAreas");
}

PSRendererGLUpdateAreas::~PSRendererGLUpdateAreas()
{
    Uninitialize(true);
}

void PSRendererGLUpdateAreas::SurfaceSet(PSRendererSurface* surface)
{
    PSExceptionGuardLock guard(m_GlLock);
    m_pSurface = surface;
}

void PSRendererGLUpdateAreas::Uninitialize(bool all)
{
    PSExceptionGuardLock guard(m_GlLock);
    PrivateUninitialize(all);
}

void PSRendererGLUpdateAreas::PrivateUninitialize(bool all)
{
    bool texturesLeft = m_PointerArea.TextureGet() != 0;
    for (auto& area : m_Areas)
        texturesLeft = texturesLeft || area->TextureGet() != 0;
    if (texturesLeft || m_Program || m_VertexArray || m_VertexBuffer || m_BackBufferTexture ||
        m_BackBufferFramebuffer)
    {
        if (m_pSurface != nullptr && m_pSurface->MakeCurrent())
        {
            PrivateObjectsDelete();
            m_pSurface->DoneCurrent();
        }
        else
        {
            SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Uninitialize failed! MakeCurrent, GL objects "
                                  "left to the context\n");
            for (auto& area : m_Areas)
                area->TextureForget();
            m_PointerArea.TextureForget();
            m_Program = m_VertexArray = m_VertexBuffer = m_BackBufferTexture = m_BackBufferFramebuffer = 0;
        }
    }
    // The areas lose their rectangles with the back buffer they were drawn
    // into; the next updates fill them again.
    for (auto& area : m_Areas)
        area->Clear();
    m_PointerArea.Clear();
    m_Pointer.Release(all);
    m_BackBufferWidth = m_BackBufferHeight = 0;
    m_Built = false;
}

void PSRendererGLUpdateAreas::PrivateObjectsDelete()
{
    for (auto& area : m_Areas)
        area->TextureRelease();
    m_PointerArea.TextureRelease();
    if (m_Program)
        glDeleteProgram(m_Program);
    if (m_VertexArray)
        glDeleteVertexArrays(1, &m_VertexArray);
    if (m_VertexBuffer)
        glDeleteBuffers(1, &m_VertexBuffer);
    if (m_BackBufferFramebuffer)
        glDeleteFramebuffers(1, &m_BackBufferFramebuffer);
    if (m_BackBufferTexture)
        glDeleteTextures(1, &m_BackBufferTexture);
    m_Program = m_VertexArray = m_VertexBuffer = m_BackBufferTexture = m_BackBufferFramebuffer = 0;
}

void PSRendererGLUpdateAreas::WindowSizeSet(float width, float height)
{
    SALog(SA_LOG_RENDER, "PSRendererGLUpdateAreas::WindowSizeSet Width:%0.2f Height:%0.2f\n", width, height);
    // Kept even before the back buffer exists: the window is sized before the
    // first resolution arrives, and ScreenClientToTarget needs the size.
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_WindowWidth = width;
    m_WindowHeight = height;
}

void PSRendererGLUpdateAreas::WindowSizeGet(float* width, float* height)
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    *width = m_WindowWidth;
    *height = m_WindowHeight;
}

bool PSRendererGLUpdateAreas::ResolutionSet(int x, int y)
{
    if (!PSRendererResolutionValid(x, y))
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::ResolutionSet failed! X:%d Y:%d out of range\n", x,
              y);
        return false;
    }
    PSExceptionGuardLock guard(m_GlLock);
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        // Objects released by Uninitialize or lost by a failed present are
        // rebuilt even at the same size.
        if (m_Status.ResolutionX == x && m_Status.ResolutionY == y && m_Built)
            return true;
    }
    SALog(SA_LOG_RENDER, "PSRendererGLUpdateAreas::ResolutionSet X:%d Y:%d\n", x, y);
    PrivateUninitialize(false);
    int result = PrivateInitialize(x, y);
    if (result == 0 && !m_Frame.ResolutionSet(x, y))
    {
        PrivateUninitialize(false);
        result = -1;
    }
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::ResolutionSet failed! PrivateInitialize\n");
        return false;
    }
    m_Built = true;
    m_NotBuiltLogged = false;
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status.ResolutionX = x;
    m_Status.ResolutionY = y;
    return true;
}

int PSRendererGLUpdateAreas::PrivateInitialize(int x, int y)
{
    if (m_pSurface == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Initialize failed! no surface\n");
        return -1;
    }
    if (!m_pSurface->MakeCurrent())
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Initialize MakeCurrent failed!\n");
        return -1;
    }
    if (!PSRendererGLApi::CurrentCheck("PSRendererGLUpdateAreas::Initialize", &m_Es))
    {
        m_pSurface->DoneCurrent();
        return -1;
    }
    SALog(SA_LOG_THREAD, "PSRendererGLUpdateAreas::PrivateInitialize: GL_VERSION %s GL_RENDERER %s\n",
          reinterpret_cast<const char*>(glGetString(GL_VERSION)),
          reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    while (glGetError() != GL_NO_ERROR)
    {
    }
    bool full = true;
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        full = m_RenderModeFull;
    }
    int result = PrivateRenderTargetViewCreate(x, y);
    if (result != 0)
        SALog(SA_LOG_FAILURE,
              "PSRendererGLUpdateAreas::Initialize PrivateRenderTargetViewCreate failed! 0x%x\n", result);
    if (result == 0)
    {
        result = PrivateLoadShadersAndCreateInputLayouts(full);
        if (result != 0)
            SALog(
                SA_LOG_FAILURE,
                "PSRendererGLUpdateAreas::Initialize PrivateloadShadersAndCreateInputLayouts failed! 0x%x\n",
                result);
    }
    if (result == 0)
    {
        result = PrivateVertexBufferCreate();
        if (result != 0)
            SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Initialize CreateBuffer failed! 0x%x\n", result);
    }
    if (result != 0)
        PrivateObjectsDelete();
    m_pSurface->DoneCurrent();
    return result;
}

int PSRendererGLUpdateAreas::PrivateRenderTargetViewCreate(int x, int y)
{
    GLint maximum = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maximum);
    if (x > maximum || y > maximum)
    {
        SALog(
            SA_LOG_FAILURE,
            "PSRendererGLUpdateAreas::PrivateRenderTargetViewCreate failed! %dx%d beyond GL_MAX_TEXTURE_SIZE "
            "%d\n",
            x, y, maximum);
        return -1;
    }
    glGenTextures(1, &m_BackBufferTexture);
    glBindTexture(GL_TEXTURE_2D, m_BackBufferTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, x, y, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    int result = ErrorOr(0);
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGLUpdateAreas::PrivateRenderTargetViewCreate glTexImage2D failed! 0x%x\n", result);
        return result;
    }
    glGenFramebuffers(1, &m_BackBufferFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_BackBufferFramebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_BackBufferTexture, 0);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
    {
        SALog(
            SA_LOG_FAILURE,
            "PSRendererGLUpdateAreas::PrivateRenderTargetViewCreate glCheckFramebufferStatus failed! 0x%x\n",
            status);
        return ErrorOr(-1);
    }
    // The one clear of the back buffer's life: new storage is undefined, and
    // the screen starts black until the first rectangles arrive.
    glViewport(0, 0, x, y);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    m_BackBufferWidth = x;
    m_BackBufferHeight = y;
    return ErrorOr(0);
}

int PSRendererGLUpdateAreas::PrivateLoadShadersAndCreateInputLayouts(bool full)
{
    const char* technique = full ? "full32" : "texturingDisabled";
    const char* owner = "PSRendererGLUpdateAreas::PrivateLoadShadersAndCreateInputLayouts";
    GLuint vertex = PSRendererGLApi::ShaderCompile(GL_VERTEX_SHADER, m_Es, VERTEX_SHADER, owner, "vertex");
    GLuint fragment = PSRendererGLApi::ShaderCompile(
        GL_FRAGMENT_SHADER, m_Es, full ? FRAGMENT_SHADER_FULL32 : FRAGMENT_SHADER_TEXTURING_DISABLED, owner,
        technique);
    if (vertex == 0 || fragment == 0)
    {
        if (vertex)
            glDeleteShader(vertex);
        if (fragment)
            glDeleteShader(fragment);
        return ErrorOr(-1);
    }
    m_Program = glCreateProgram();
    glAttachShader(m_Program, vertex);
    glAttachShader(m_Program, fragment);
    glLinkProgram(m_Program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(m_Program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE)
    {
        char text[1024] = {};
        glGetProgramInfoLog(m_Program, sizeof(text), nullptr, text);
        SALog(
            SA_LOG_FAILURE,
            "PSRendererGLUpdateAreas::PrivateLoadShadersAndCreateInputLayouts glLinkProgram failed! %s %s\n",
            technique, text);
        return ErrorOr(-1);
    }
    glUseProgram(m_Program);
    // Unused variables of a technique are -1, which glUniform ignores.
    glUniform1i(glGetUniformLocation(m_Program, "TextureSR"), 0);
    m_UniformTextureWidth = glGetUniformLocation(m_Program, "TextureWidth");
    m_UniformTextureHeight = glGetUniformLocation(m_Program, "TextureHeight");
    m_UniformUpdateRect = glGetUniformLocation(m_Program, "UpdateRect");
    m_UniformTexelDistance = glGetUniformLocation(m_Program, "TexelDistance");
    SALog(SA_LOG_RENDER, "PSRendererGLUpdateAreas::PrivateLoadShadersAndCreateInputLayouts technique %s\n",
          technique);
    return ErrorOr(0);
}

int PSRendererGLUpdateAreas::PrivateVertexBufferCreate()
{
    glGenVertexArrays(1, &m_VertexArray);
    glBindVertexArray(m_VertexArray);
    glGenBuffers(1, &m_VertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, m_VertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, VERTEX_BUFFER_BYTES, nullptr, GL_DYNAMIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, VERTEX_STRIDE, reinterpret_cast<const void*>(0));
    glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, VERTEX_STRIDE, reinterpret_cast<const void*>(12));
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, VERTEX_STRIDE, reinterpret_cast<const void*>(28));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glEnableVertexAttribArray(2);
    return ErrorOr(0);
}

bool PSRendererGLUpdateAreas::PrivateRectangleDraw(PSRendererScreenUpdateArea& area)
{
    bool drawable = false;
    int result = area.TextureUpload(&drawable);
    if (result != 0 || area.TextureGet() == 0 || m_VertexBuffer == 0)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGLUpdateAreas::PrivateRectangleDraw ScreenUpdateArea.ToVertexBuffer failed!\n");
        return false;
    }
    if (!drawable)
        return true; // drawn already; its pixels are in the back buffer
    const PSRendererRect rect = area.RectGet();
    // Corners in normalised device coordinates of the back buffer, whose GL
    // row y is screen row y: y = -1 is the top of the screen. Float division,
    // so that odd sizes place rectangles exactly.
    const float width = static_cast<float>(m_BackBufferWidth),
                height = static_cast<float>(m_BackBufferHeight);
    const float x0 = 2.0f * rect.left / width - 1.0f, x1 = 2.0f * rect.right / width - 1.0f;
    const float yTop = 2.0f * rect.top / height - 1.0f, yBottom = 2.0f * rect.bottom / height - 1.0f;
    // A strip: bottom-left red, top-left green, bottom-right blue, top-right
    // yellow; texture row 0 is the rectangle's top row.
    const float vertices[PSRendererScreenUpdateArea::VERTEX_COUNT][9] = {
        {x0, yBottom, 0, 1, 0, 0, 1, 0, 1},
        {x0, yTop, 0, 0, 1, 0, 1, 0, 0},
        {x1, yBottom, 0, 0, 0, 1, 1, 1, 1},
        {x1, yTop, 0, 1, 1, 0, 1, 1, 0},
    };
    static_assert(sizeof(vertices) == 4 * VERTEX_STRIDE, "four strip vertices of 36 bytes");
    glBindBuffer(GL_ARRAY_BUFFER, m_VertexBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof(vertices), vertices);

    const float textureWidth = static_cast<float>(area.TextureWidthGet());
    const float textureHeight = static_cast<float>(area.TextureHeightGet());
    glUseProgram(m_Program);
    glUniform1f(m_UniformTextureWidth, textureWidth);
    glUniform1f(m_UniformTextureHeight, textureHeight);
    glUniform4f(m_UniformTexelDistance, 1.0f / textureWidth, 1.0f / textureHeight, 0.5f / textureWidth, 0.0f);
    glUniform4f(m_UniformUpdateRect, static_cast<float>(rect.left), static_cast<float>(rect.top),
                static_cast<float>(rect.right), static_cast<float>(rect.bottom));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, area.TextureGet());
    glBindVertexArray(m_VertexArray);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, area.VertexCountGet());
    result = ErrorOr(0);
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::PrivateRectangleDraw glDrawArrays failed! 0x%x\n",
              result);
        return false;
    }
    return true;
}

void PSRendererGLUpdateAreas::PrivateScreenUpdatesDraw(int count)
{
    glBindFramebuffer(GL_FRAMEBUFFER, m_BackBufferFramebuffer);
    glViewport(0, 0, m_BackBufferWidth, m_BackBufferHeight);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
    const int areas = std::min(count, AREA_COUNT);
    for (int index = 0; index < areas; ++index)
    {
        if (!PrivateRectangleDraw(*m_Areas[index]))
            SALog(SA_LOG_FAILURE,
                  "PSRendererGLUpdateAreas::PrivateScreenUpdatesDraw PrivateRectangleDraw failed! "
                  "CountFragments:%d FragmentIndex:%d\n",
                  count, index);
    }
}

bool PSRendererGLUpdateAreas::PrivatePointerDraw()
{
    if (!m_Pointer.BackgroundRecord(m_BackBufferFramebuffer, m_BackBufferWidth, m_BackBufferHeight))
        return false;
    if (!m_Pointer.Draw(&m_PointerArea, m_BackBufferWidth, m_BackBufferHeight))
        return true; // recorded: restored after the show all the same
    glBindFramebuffer(GL_FRAMEBUFFER, m_BackBufferFramebuffer);
    glViewport(0, 0, m_BackBufferWidth, m_BackBufferHeight);
    if (!PrivateRectangleDraw(m_PointerArea))
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Present PrivateRectangleDraw failed!\n");
    return true;
}

int PSRendererGLUpdateAreas::PrivateShow(int* width, int* height)
{
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        *width = static_cast<int>(std::lround(m_WindowWidth));
        *height = static_cast<int>(std::lround(m_WindowHeight));
    }
    if (*width < 1 || *height < 1)
    {
        // No window size yet: show at the server's size.
        *width = m_BackBufferWidth;
        *height = m_BackBufferHeight;
    }
    uint32_t framebuffer = 0;
    if (!m_pSurface->FramebufferPrepare(*width, *height, &framebuffer))
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::PrivateShow FramebufferPrepare failed!\n");
        return ErrorOr(-1);
    }
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, *width, *height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(WINDOW_GREY, WINDOW_GREY, WINDOW_GREY, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // 1:1 from the top-left corner; the window's GL rows run bottom-up, the
    // back buffer's top-down, so the copy flips.
    const int shownWidth = std::min(*width, m_BackBufferWidth);
    const int shownHeight = std::min(*height, m_BackBufferHeight);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_BackBufferFramebuffer);
    glBlitFramebuffer(0, 0, shownWidth, shownHeight, 0, *height, shownWidth, *height - shownHeight,
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    return ErrorOr(0);
}

bool PSRendererGLUpdateAreas::Present(int count)
{
    {
        PSExceptionGuardLock guard(m_GlLock);
        if (!m_Built)
        {
            if (!m_NotBuiltLogged)
                SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Present failed! no back buffer\n");
            m_NotBuiltLogged = true;
            return false;
        }
        int result = -1;
        if (m_pSurface->MakeCurrent())
        {
            const uint64_t uploadBegin = PSTimeNanoseconds();
            PrivateScreenUpdatesDraw(count);
            m_UploadNs = PSTimeNanoseconds() - uploadBegin;
            const bool pointer = PrivatePointerDraw();
            int width = 0, height = 0;
            result = PrivateShow(&width, &height);
            if (result == 0 && !m_pSurface->SwapBuffers())
                result = ErrorOr(-1);
            // The pointer leaves the back buffer as soon as it has been shown.
            if (pointer)
                m_Pointer.BackgroundRestore(m_BackBufferTexture);
            m_pSurface->DoneCurrent();
        }
        if (result != 0)
        {
            SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Present (1) failed! 0x%x\n", result);
            // Rebuilt at the stored size; the areas are filled again by the
            // next updates. The pointer's shape is kept.
            const int x = m_BackBufferWidth, y = m_BackBufferHeight;
            PrivateUninitialize(false);
            if (PrivateInitialize(x, y) == 0)
            {
                m_Built = true;
                m_NotBuiltLogged = false;
            }
            return false;
        }
    }
    if (count > 0)
    {
        uint32_t now = m_Clock();
        std::lock_guard<std::mutex> status(m_StatusLock);
        m_Status.FramesPerSecond = m_FrameRateMeter.Stamp(now);
    }
    return true;
}

bool PSRendererGLUpdateAreas::WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    PSExceptionGuardLock guard(m_GlLock);
    if (!m_Built)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::WindowSnapshotGet failed! no back buffer\n");
        return false;
    }
    if (!m_pSurface->MakeCurrent())
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::WindowSnapshotGet MakeCurrent failed!\n");
        return false;
    }
    // Shown again rather than read from the shown buffer: a window's buffer is
    // undefined after a swap. No area is drawn, the pointer is.
    const bool pointer = PrivatePointerDraw();
    int result = PrivateShow(width, height);
    if (result == 0)
    {
        const size_t pitch = static_cast<size_t>(*width) * 4u;
        std::vector<uint8_t> bottomUp(pitch * static_cast<size_t>(*height));
        glFinish(); // see BackBufferSnapshotGet
        result = PSRendererGLApi::PixelsReadBgra(0, 0, *width, *height, bottomUp.data());
        if (result == 0)
        {
            pixels->resize(bottomUp.size());
            for (int row = 0; row < *height; ++row)
                std::memcpy(pixels->data() + static_cast<size_t>(row) * pitch,
                            bottomUp.data() + static_cast<size_t>(*height - 1 - row) * pitch, pitch);
        }
    }
    if (pointer)
        m_Pointer.BackgroundRestore(m_BackBufferTexture);
    m_pSurface->DoneCurrent();
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::WindowSnapshotGet glReadPixels failed! 0x%x\n",
              result);
        return false;
    }
    return true;
}

bool PSRendererGLUpdateAreas::BackBufferSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    PSExceptionGuardLock guard(m_GlLock);
    if (!m_Built)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::BackBufferSnapshotGet failed! no back buffer\n");
        return false;
    }
    if (!m_pSurface->MakeCurrent())
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::BackBufferSnapshotGet MakeCurrent failed!\n");
        return false;
    }
    pixels->resize(static_cast<size_t>(m_BackBufferWidth) * static_cast<size_t>(m_BackBufferHeight) * 4u);
    // Reading a texture-backed framebuffer does not always wait for draws
    // already flushed into it (seen with llvmpipe: the read returned the
    // pixels from before the last present); finishing first makes it exact.
    glFinish();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_BackBufferFramebuffer);
    int result = PSRendererGLApi::PixelsReadBgra(0, 0, m_BackBufferWidth, m_BackBufferHeight, pixels->data());
    m_pSurface->DoneCurrent();
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::BackBufferSnapshotGet glReadPixels failed! 0x%x\n",
              result);
        return false;
    }
    *width = m_BackBufferWidth;
    *height = m_BackBufferHeight;
    return true;
}

bool PSRendererGLUpdateAreas::FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    return m_Frame.SnapshotGet(pixels, width, height);
}

bool PSRendererGLUpdateAreas::FrameBufferPartialUpdate(const void* pixels, size_t pixelsBytes, int pitch,
                                                       int /*colourFormat*/, const PSRendererRect* rect,
                                                       int fragmentIndex)
{
    int resolutionX = 0, resolutionY = 0;
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        resolutionX = m_Status.ResolutionX;
        resolutionY = m_Status.ResolutionY;
    }
    if (rect != nullptr)
        SALog(SA_LOG_RENDER,
              "PSRendererGLUpdateAreas::FrameBufferPartialUpdate %dx%d rectangle %d-%d-%d-%d\n", resolutionX,
              resolutionY, rect->left, rect->top, rect->right, rect->bottom);
    if (pixels == nullptr || rect == nullptr)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGLUpdateAreas::FrameBufferPartialUpdate failed! pBuffer(%p) = NULL || "
              "pPartialUpdateRect(%p) = NULL\n",
              pixels, static_cast<const void*>(rect));
        return false;
    }
    if (fragmentIndex < 0 || fragmentIndex >= AREA_COUNT)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGLUpdateAreas::FrameBufferPartialUpdate failed! FragmentIndex:%d has no area\n",
              fragmentIndex);
        return false;
    }
    if (resolutionX == 0 || resolutionY == 0)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGLUpdateAreas::FrameBufferPartialUpdate failed! no resolution set\n");
        return false;
    }
    // The caller's pitch is used as given: its rows are where the caller put
    // them, whatever the screen width.
    if (!m_Areas[fragmentIndex]->Initialize(pixels, pixelsBytes, pitch, resolutionX, resolutionY, *rect))
    {
        SALog(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::FrameBufferPartialUpdate ScreenUpdateArea.Initialize "
                              "failed!\n");
        return false;
    }
    m_Frame.RectangleCopy(pixels, pixelsBytes, pitch, rect);
    return true;
}

void PSRendererGLUpdateAreas::PrivateRepaint()
{
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        if (m_Status.ResolutionX == 0 || m_Status.ResolutionY == 0)
            return;
    }
    m_Repaint.Run(*this);
}

// The picture is shown 1:1 and cannot be zoomed, moved or tilted.
void PSRendererGLUpdateAreas::ParameterScaleAdjust(float /*delta*/) {}
void PSRendererGLUpdateAreas::ParameterTranslateAdjust(float /*dx*/, float /*dy*/) {}
void PSRendererGLUpdateAreas::ParameterRotateAdjust(float /*pitch*/, float /*yaw*/, float /*roll*/) {}
void PSRendererGLUpdateAreas::ParametersReset() {}

void PSRendererGLUpdateAreas::PointerPositionSet(int x, int y, bool visible)
{
    int resolutionX = 0, resolutionY = 0;
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        resolutionX = m_Status.ResolutionX;
        resolutionY = m_Status.ResolutionY;
    }
    if (m_Pointer.PositionSet(x, y, visible, resolutionX, resolutionY))
        PrivateRepaint();
}

void PSRendererGLUpdateAreas::PointerShapeSet(int width, int height, int pitch, int type, const void* bits)
{
    if (m_Pointer.ShapeSet(width, height, pitch, type, bits))
        PrivateRepaint();
}

void PSRendererGLUpdateAreas::RenderModeSet(bool full)
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_RenderModeFull = full;
}

bool PSRendererGLUpdateAreas::RenderModeGet()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    return m_RenderModeFull;
}

void PSRendererGLUpdateAreas::StatusValueSet(int value)
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status.StatusValue = value;
}

void PSRendererGLUpdateAreas::StatusClear()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status = PSRendererStatus{};
}

PSRendererStatus PSRendererGLUpdateAreas::StatusGet()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    return m_Status;
}

void PSRendererGLUpdateAreas::PictureCenterGet(float* x, float* y)
{
    *x = 0.0f;
    *y = 0.0f;
}

bool PSRendererGLUpdateAreas::ScreenClientToTarget(float x, float y, float result[2], float size[2])
{
    float width = 0.0f, height = 0.0f, screenWidth = 0.0f, screenHeight = 0.0f;
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        width = m_WindowWidth;
        height = m_WindowHeight;
        screenWidth = static_cast<float>(m_Status.ResolutionX);
        screenHeight = static_cast<float>(m_Status.ResolutionY);
    }
    // Written so that NaN and points left of or above the window fail too.
    if (!(x >= 0.0f && x < width && y >= 0.0f && y < height))
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGLUpdateAreas::ScreenClientToTarget failed! Input not within the window\n");
        return false;
    }
    result[0] = x;
    result[1] = y;
    size[0] = width;
    size[1] = height;
    if (screenWidth > 0.0f && screenHeight > 0.0f)
    {
        // The picture is shown 1:1 from the top-left corner, not stretched
        // over the window, while callers send result / size as the place on
        // the server's screen: the window point is scaled so that this
        // fraction is the point's place on the picture. Points on the grey
        // beside or below a smaller picture are on no part of it.
        if (!(x < screenWidth && y < screenHeight))
        {
            SALog(SA_LOG_FAILURE,
                  "PSRendererGLUpdateAreas::ScreenClientToTarget failed! Input not within the picture\n");
            return false;
        }
        result[0] = x * width / screenWidth;
        result[1] = y * height / screenHeight;
    }
    return true;
}

void PSRendererGLUpdateAreas::RepaintRequestSet(std::function<void()> request)
{
    m_Repaint.RequestSet(std::move(request));
}
