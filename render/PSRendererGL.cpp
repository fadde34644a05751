#include "render/PSRendererGL.h"

#include "core/PSExceptionGuard.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "render/PSRendererGLApi.h"
#include "render/PSRendererSurface.h"

#include <epoxy/gl.h>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
constexpr float X = PS_RENDERER_BOX_X;
constexpr float Y = PS_RENDERER_BOX_Y;
constexpr float Z = PS_RENDERER_BOX_Z;

// Position and texture coordinate of the box's eight corners; the texture's
// first row (the top of the server screen) is at v = 0.
const float VERTICES[8][6] = {
    {-X, -Y, -Z, 0, 1, 0}, {-X, -Y, +Z, 0, 1, 0}, {-X, +Y, -Z, 0, 0, 0}, {-X, +Y, +Z, 0, 0, 0},
    {+X, -Y, -Z, 1, 1, 0}, {+X, -Y, +Z, 1, 1, 0}, {+X, +Y, -Z, 1, 0, 0}, {+X, +Y, +Z, 1, 0, 0},
};
static_assert(sizeof(VERTICES) == 192, "8 vertices of 24 bytes");

// Twelve triangles, clockwise seen from outside; the picture's face (z = +Z)
// comes last.
const uint16_t INDICES[36] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 6, 7, 0, 1, 5, 0, 5, 4,
                              2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};
constexpr GLsizei INDEX_COUNT = 36;
constexpr GLsizeiptr MODEL_VIEW_PROJECTION_BYTES = 192;
constexpr float ANISOTROPY_MAX = 16.0f;
constexpr float LETTERBOX_GREY = 0.04f;

// Shader bodies: PSRendererGLApi puts the version line of the context's kind
// (desktop or ES) before them.
const char* const VERTEX_SHADER = R"(layout(location = 0) in vec3 inPosition;
layout(location = 1) in vec3 inTexCoord;
layout(std140) uniform ModelViewProjectionConstantBuffer
{
    mat4 model;
    mat4 view;
    mat4 projection;
};
out vec2 texCoord;
void main()
{
    gl_Position = projection * view * model * vec4(inPosition, 1.0);
    texCoord = inTexCoord.xy;
}
)";

// Desktop GL keeps the bytes B, G, R, X as a BGRA texture (so that the
// picture can also be copied to the window as it is); OpenGL ES has no such
// format and holds them as R, G, B, A, so red and blue are exchanged in the
// shader there (SWIZZLE). A software rasteriser holds them as R, G, B, A as
// well: llvmpipe (Mesa 22.3) switches to a faster way of drawing a plain
// textured quad into a 32-bit window once it has drawn it a few times, and
// that way shows a BGRA texture with red and blue exchanged. The fourth byte
// of a pixel is undefined: the output is opaque.
#define QM_FRAGMENT_SHADER(SWIZZLE)                                                                          \
    "in vec2 texCoord;\n"                                                                                    \
    "uniform sampler2D txDiffuse;\n"                                                                         \
    "out vec4 fragColor;\n"                                                                                  \
    "void main()\n"                                                                                          \
    "{\n"                                                                                                    \
    "    fragColor = vec4(texture(txDiffuse, texCoord)." SWIZZLE ", 1.0);\n"                                 \
    "}\n"
const char* const FRAGMENT_SHADER = QM_FRAGMENT_SHADER("xyz");
const char* const FRAGMENT_SHADER_ES = QM_FRAGMENT_SHADER("zyx");
#undef QM_FRAGMENT_SHADER

// A planar 4:2:0 video picture: Y at full size, U and V at half size each,
// one byte per sample, turned into RGB with the full-range BT.601 (JPEG)
// coefficients TurboJPEG uses on the CPU, so both paths show the same colours.
const char* const FRAGMENT_SHADER_PLANAR = R"(in vec2 texCoord;
uniform sampler2D txY;
uniform sampler2D txU;
uniform sampler2D txV;
out vec4 fragColor;
void main()
{
    float y = texture(txY, texCoord).r;
    float u = texture(txU, texCoord).r - 128.0 / 255.0;
    float v = texture(txV, texCoord).r - 128.0 / 255.0;
    fragColor = vec4(clamp(vec3(y + 1.402 * v, y - 0.344136 * u - 0.714136 * v, y + 1.772 * u), 0.0, 1.0), 1.0);
}
)";

int ErrorOr(int fallback)
{
    GLenum error = glGetError();
    return error != GL_NO_ERROR ? static_cast<int>(error) : fallback;
}

// Where the picture's lower-left corner lands in a width x height drawable
// (GL pixels, y up) when it is shown untransformed: texture-sized, upright,
// unmirrored, facing the camera. False otherwise.
bool PictureUntransformedGet(const PSRendererCamera::Matrices& matrices, int textureWidth, int textureHeight,
                             int width, int height, int* x, int* y)
{
    const glm::vec4 viewport(0.0f, 0.0f, static_cast<float>(width), static_cast<float>(height));
    const glm::mat4 modelView = matrices.View * matrices.Model;
    const auto corner = [&](float cx, float cy)
    { return glm::projectZO(glm::vec3(cx, cy, Z), modelView, matrices.Projection, viewport); };
    const glm::vec3 bottomLeft = corner(-X, -Y), bottomRight = corner(+X, -Y);
    const glm::vec3 topLeft = corner(-X, +Y), topRight = corner(+X, +Y);
    // A hundredth of a pixel: far below anything a sampler would show.
    constexpr float EPSILON = 0.01f;
    const auto near = [](float a, float b) { return std::fabs(a - b) < EPSILON; };
    if (!near(bottomLeft.x, topLeft.x) || !near(bottomRight.x, topRight.x) ||
        !near(bottomLeft.y, bottomRight.y) || !near(topLeft.y, topRight.y) ||
        !near(bottomRight.x - bottomLeft.x, static_cast<float>(textureWidth)) ||
        !near(topLeft.y - bottomLeft.y, static_cast<float>(textureHeight)))
        return false;
    *x = static_cast<int>(std::lround(bottomLeft.x));
    *y = static_cast<int>(std::lround(bottomLeft.y));
    return true;
}
} // namespace

PSRendererGL::PSRendererGL(std::function<uint32_t()> clock)
    : PSRendererFramed("PSRendererGL", std::move(clock))
{
}

PSRendererGL::~PSRendererGL()
{
    Uninitialize(true);
}

void PSRendererGL::SurfaceSet(PSRendererSurface* surface)
{
    PSExceptionGuardLock guard(m_GlLock);
    m_pSurface = surface;
    // A frame that may be shown without GL lives where the window system
    // reads it in place. Asked at each resize, under the GL lock.
    m_Frame.BlockSourceSet(
        [this](size_t bytes) -> std::shared_ptr<PSPixelBlock>
        {
            if (m_pSurface == nullptr || !m_SoftwareRasteriser.load() || m_PlanarAlways.load())
                return nullptr;
            return m_pSurface->PixelsBlockCreate(bytes);
        });
}

void PSRendererGL::Uninitialize(bool /*all*/)
{
    PSExceptionGuardLock guard(m_GlLock);
    PrivateUninitialize();
}

void PSRendererGL::PrivateUninitialize()
{
    if (m_VertexArray || m_VertexBuffer || m_IndexBuffer || m_ModelViewProjectionBuffer || m_Program ||
        m_TextureDisplay || m_ProgramPlanar || m_TexturesPlanar[0])
    {
        if (m_pSurface != nullptr && m_pSurface->MakeCurrent())
        {
            PrivateObjectsDelete();
            m_pSurface->DoneCurrent();
        }
        else
        {
            // The names die with the context.
            SALog(SA_LOG_FAILURE,
                  "PSRendererGL::Uninitialize failed! MakeCurrent, GL objects left to the context\n");
            m_VertexArray = m_VertexBuffer = m_IndexBuffer = m_ModelViewProjectionBuffer = m_Program =
                m_TextureDisplay = m_ProgramPlanar = 0;
            PrivatePlanarForget();
        }
    }
    m_PipelineBuilt = false;
}

void PSRendererGL::PrivateObjectsDelete()
{
    // Released in the order they are used by the draw, the texture before the
    // program that samples it.
    if (m_ModelViewProjectionBuffer)
        glDeleteBuffers(1, &m_ModelViewProjectionBuffer);
    if (m_CopyFramebuffer)
        glDeleteFramebuffers(1, &m_CopyFramebuffer);
    if (m_TextureDisplay)
        glDeleteTextures(1, &m_TextureDisplay);
    if (m_TexturesPlanar[0])
        glDeleteTextures(3, m_TexturesPlanar);
    if (m_Program)
        glDeleteProgram(m_Program);
    if (m_ProgramPlanar)
        glDeleteProgram(m_ProgramPlanar);
    if (m_VertexArray)
        glDeleteVertexArrays(1, &m_VertexArray);
    if (m_IndexBuffer)
        glDeleteBuffers(1, &m_IndexBuffer);
    if (m_VertexBuffer)
        glDeleteBuffers(1, &m_VertexBuffer);
    m_VertexArray = m_VertexBuffer = m_IndexBuffer = m_ModelViewProjectionBuffer = m_Program =
        m_TextureDisplay = m_ProgramPlanar = m_CopyFramebuffer = 0;
    PrivatePlanarForget();
}

void PSRendererGL::PrivatePlanarForget()
{
    m_TexturesPlanar[0] = m_TexturesPlanar[1] = m_TexturesPlanar[2] = 0;
    m_PlanarWidth = m_PlanarHeight = 0;
    m_PlanarShown = false;
}

bool PSRendererGL::ResolutionSet(int x, int y)
{
    if (!PSRendererResolutionValid(x, y))
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::ResolutionSet failed! X:%d Y:%d out of range\n", x, y);
        return false;
    }
    PSExceptionGuardLock guard(m_GlLock);
    bool keepPixels = false;
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        // A pipeline released by Uninitialize or a failed Present is rebuilt
        // even at the same size; a failed build is not retried at it.
        if (m_Status.ResolutionX == x && m_Status.ResolutionY == y && (m_PipelineBuilt || m_PipelineFailed))
            return true;
        // The same size again after a lost pipeline shows the same picture;
        // after StatusClear (a new connection) the last session's picture
        // must not come back where the new one has not drawn yet.
        keepPixels = m_Status.ResolutionX == x && m_Status.ResolutionY == y;
        SALog(SA_LOG_RENDER, "PSRendererGL::ResolutionSet X:%d Y:%d\n", x, y);
        m_Status.ResolutionX = x;
        m_Status.ResolutionY = y;
    }
    m_Camera.ResolutionAspectSet(static_cast<float>(x) / static_cast<float>(y));
    PrivateUninitialize();
    m_PipelineFailed = true;
    if (!m_Frame.ResolutionSet(x, y, keepPixels))
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::ResolutionSet failed! PSRendererFrame::ResolutionSet\n");
        return false;
    }
    int result = PrivateInitializePipeline(x, y);
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::ResolutionSet failed! PrivateInitializePipeline 0x%x\n", result);
        return false;
    }
    m_PipelineFailed = false;
    m_PipelineBuilt = true;
    m_NoPipelineLogged = false;
    m_Camera.ParametersReset();
    return true;
}

int PSRendererGL::PrivateInitializePipeline(int x, int y)
{
    int result = PrivateInitializeDeviceAndSwapChain();
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGL::PrivateInitializePipeline failed! PrivateInitializeDeviceAndSwapChain 0x%x\n",
              result);
        return result;
    }
    struct Step
    {
        const char* name;
        std::function<int()> run;
    };
    uint32_t framebuffer = 0;
    int width = 0, height = 0;
    const Step steps[] = {
        {"PrivateVertexBufferInitialize", [this] { return PrivateVertexBufferInitialize(); }},
        {"PrivateIndexBufferInitialize", [this] { return PrivateIndexBufferInitialize(); }},
        {"PrivateModelViewProjectionBufferInitialize",
         [this] { return PrivateModelViewProjectionBufferInitialize(); }},
        {"PrivateShaderCreate", [this] { return PrivateShaderCreate(); }},
        {"PrivateSetTextureDisplayAsShaderResourceView",
         [this, x, y] { return PrivateSetTextureDisplayAsShaderResourceView(x, y); }},
        {"PrivateCreateRenderTargetView", [this, &framebuffer, &width, &height]
         { return PrivateCreateRenderTargetView(&framebuffer, &width, &height); }},
    };
    for (const Step& step : steps)
    {
        result = step.run();
        if (result != 0)
        {
            SALog(SA_LOG_FAILURE, "PSRendererGL::PrivateInitializePipeline failed! %s 0x%x\n", step.name,
                  result);
            PrivateObjectsDelete();
            break;
        }
    }
    m_pSurface->DoneCurrent();
    if (result == 0)
        m_Frame.DirtyAll(); // the new texture is empty: the next present uploads everything
    return result;
}

int PSRendererGL::PrivateInitializeDeviceAndSwapChain()
{
    if (m_pSurface == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::PrivateInitializeDeviceAndSwapChain failed! no surface\n");
        return -1;
    }
    if (!m_pSurface->MakeCurrent())
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::PrivateInitializeDeviceAndSwapChain MakeCurrent failed!\n");
        return -1;
    }
    if (!PSRendererGLApi::CurrentCheck("PSRendererGL::PrivateInitializeDeviceAndSwapChain", &m_Es))
    {
        m_pSurface->DoneCurrent();
        return -1;
    }
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    SALog(SA_LOG_THREAD, "PSRendererGL::PrivateInitializeDeviceAndSwapChain: GL_VERSION %s GL_RENDERER %s\n",
          reinterpret_cast<const char*>(glGetString(GL_VERSION)), renderer);
    m_SoftwareRasteriser.store(PSRendererGLApi::SoftwareRasteriserIs());
    m_BytesAsRgba = m_Es || m_SoftwareRasteriser.load();
    while (glGetError() != GL_NO_ERROR)
    {
    }
    return 0;
}

int PSRendererGL::PrivateVertexBufferInitialize()
{
    glGenVertexArrays(1, &m_VertexArray);
    glBindVertexArray(m_VertexArray);
    glGenBuffers(1, &m_VertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, m_VertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(VERTICES), VERTICES, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<const void*>(0));
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<const void*>(12));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    return ErrorOr(0);
}

int PSRendererGL::PrivateIndexBufferInitialize()
{
    glGenBuffers(1, &m_IndexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_IndexBuffer); // recorded in the vertex array
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(INDICES), INDICES, GL_STATIC_DRAW);
    return ErrorOr(0);
}

int PSRendererGL::PrivateModelViewProjectionBufferInitialize()
{
    glGenBuffers(1, &m_ModelViewProjectionBuffer);
    glBindBuffer(GL_UNIFORM_BUFFER, m_ModelViewProjectionBuffer);
    glBufferData(GL_UNIFORM_BUFFER, MODEL_VIEW_PROJECTION_BYTES, nullptr, GL_DYNAMIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, m_ModelViewProjectionBuffer);
    return ErrorOr(0);
}

int PSRendererGL::PrivateShaderCreate()
{
    int result = PrivateProgramBuild(m_BytesAsRgba ? FRAGMENT_SHADER_ES : FRAGMENT_SHADER, &m_Program);
    if (result != 0)
        return result;
    glUseProgram(m_Program);
    glUniform1i(glGetUniformLocation(m_Program, "txDiffuse"), 0);
    return ErrorOr(0);
}

int PSRendererGL::PrivateProgramBuild(const char* fragmentSource, uint32_t* program)
{
    const char* owner = "PSRendererGL::PrivateShaderCreate";
    GLuint vertex = PSRendererGLApi::ShaderCompile(GL_VERTEX_SHADER, m_Es, VERTEX_SHADER, owner, "vertex");
    GLuint fragment =
        PSRendererGLApi::ShaderCompile(GL_FRAGMENT_SHADER, m_Es, fragmentSource, owner, "fragment");
    if (vertex == 0 || fragment == 0)
    {
        if (vertex)
            glDeleteShader(vertex);
        if (fragment)
            glDeleteShader(fragment);
        return ErrorOr(-1);
    }
    *program = glCreateProgram();
    glAttachShader(*program, vertex);
    glAttachShader(*program, fragment);
    glLinkProgram(*program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(*program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE)
    {
        char text[1024] = {};
        glGetProgramInfoLog(*program, sizeof(text), nullptr, text);
        SALog(SA_LOG_FAILURE, "PSRendererGL::PrivateShaderCreate glLinkProgram failed! %s\n", text);
        return ErrorOr(-1);
    }
    GLuint block = glGetUniformBlockIndex(*program, "ModelViewProjectionConstantBuffer");
    if (block == GL_INVALID_INDEX)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::PrivateShaderCreate glGetUniformBlockIndex failed!\n");
        return ErrorOr(-1);
    }
    glUniformBlockBinding(*program, block, 0);
    return ErrorOr(0);
}

int PSRendererGL::PrivatePlanarUpload(const SAPlanarPicture& picture)
{
    if (m_ProgramPlanar == 0)
    {
        int result = PrivateProgramBuild(FRAGMENT_SHADER_PLANAR, &m_ProgramPlanar);
        if (result != 0)
            return result;
        glUseProgram(m_ProgramPlanar);
        glUniform1i(glGetUniformLocation(m_ProgramPlanar, "txY"), 0);
        glUniform1i(glGetUniformLocation(m_ProgramPlanar, "txU"), 1);
        glUniform1i(glGetUniformLocation(m_ProgramPlanar, "txV"), 2);
    }
    const int widths[3] = {picture.Width, (picture.Width + 1) / 2, (picture.Width + 1) / 2};
    const int heights[3] = {picture.Height, (picture.Height + 1) / 2, (picture.Height + 1) / 2};
    if (m_TexturesPlanar[0] == 0 || m_PlanarWidth != picture.Width || m_PlanarHeight != picture.Height)
    {
        if (m_TexturesPlanar[0] != 0)
            glDeleteTextures(3, m_TexturesPlanar);
        glGenTextures(3, m_TexturesPlanar);
        for (int plane = 0; plane < 3; ++plane)
        {
            glBindTexture(GL_TEXTURE_2D, m_TexturesPlanar[plane]);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, widths[plane], heights[plane], 0, GL_RED, GL_UNSIGNED_BYTE,
                         nullptr);
        }
        m_PlanarWidth = picture.Width;
        m_PlanarHeight = picture.Height;
        m_PlanarAnisotropyApplied = 1.0f;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int plane = 0; plane < 3; ++plane)
    {
        glBindTexture(GL_TEXTURE_2D, m_TexturesPlanar[plane]);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, picture.Strides[plane]);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, widths[plane], heights[plane], GL_RED, GL_UNSIGNED_BYTE,
                        picture.Planes[plane]);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return ErrorOr(0);
}

int PSRendererGL::PrivateSetTextureDisplayAsShaderResourceView(int x, int y)
{
    GLint maximum = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maximum);
    if (x > maximum || y > maximum)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererGL::PrivateSetTextureDisplayAsShaderResourceView failed! %dx%d beyond "
              "GL_MAX_TEXTURE_SIZE %d\n",
              x, y, maximum);
        return -1;
    }
    glGenTextures(1, &m_TextureDisplay);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_TextureDisplay);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0); // one level: no mipmaps
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    if (!m_Es)
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, 0.0f);
    m_Anisotropy = 1.0f;
    m_AnisotropyApplied = 1.0f;
    if (PSRendererGLApi::AnisotropySupportedGet(m_Es))
    {
        GLfloat supported = 1.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &supported);
        m_Anisotropy = std::fmin(ANISOTROPY_MAX, supported);
    }
    glTexImage2D(GL_TEXTURE_2D, 0, m_BytesAsRgba ? GL_RGBA8 : GL_RGBA, x, y, 0,
                 m_BytesAsRgba ? GL_RGBA : GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    m_TextureWidth = x;
    m_TextureHeight = y;
    int result = ErrorOr(0);
    // A copy cannot exchange red and blue.
    if (result != 0 || m_BytesAsRgba)
        return result;
    // The picture shown untransformed is copied from the texture rather
    // than drawn: rows are copied instead of the fragment program running
    // for every pixel of the window.
    glGenFramebuffers(1, &m_CopyFramebuffer);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_CopyFramebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_TextureDisplay, 0);
    if (glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    {
        SALog(SA_LOG_RENDER,
              "PSRendererGL::PrivateSetTextureDisplayAsShaderResourceView the picture is always "
              "drawn: its texture cannot be read as a framebuffer\n");
        glDeleteFramebuffers(1, &m_CopyFramebuffer);
        m_CopyFramebuffer = 0;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    return ErrorOr(0);
}

int PSRendererGL::PrivateCreateRenderTargetView(uint32_t* framebuffer, int* width, int* height)
{
    float windowWidth = 0.0f, windowHeight = 0.0f;
    m_Camera.WindowSizeGet(&windowWidth, &windowHeight);
    *width = static_cast<int>(std::lround(windowWidth));
    *height = static_cast<int>(std::lround(windowHeight));
    if (*width < 1 || *height < 1)
    {
        // No window size yet: draw at the server's size.
        std::lock_guard<std::mutex> status(m_StatusLock);
        *width = m_Status.ResolutionX > 0 ? m_Status.ResolutionX : 1;
        *height = m_Status.ResolutionY > 0 ? m_Status.ResolutionY : 1;
    }
    if (!m_pSurface->FramebufferPrepare(*width, *height, framebuffer))
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::PrivateCreateRenderTargetView FramebufferPrepare failed!\n");
        return ErrorOr(-1);
    }
    return 0;
}

int PSRendererGL::PrivateDraw(int* width, int* height)
{
    if (m_TextureStale)
    {
        m_Frame.DirtyAll();
        m_TextureStale = false;
    }
    const uint64_t uploadBegin = PSTimeNanoseconds();
    int result =
        m_Frame.DirtyUpload(
            [this](const uint8_t* frame, int frameWidth, int, const PSRendererRect& dirty)
            {
                m_PlanarShown = false;
                glBindTexture(GL_TEXTURE_2D, m_TextureDisplay);
                glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
                glPixelStorei(GL_UNPACK_ROW_LENGTH, frameWidth);
                glTexSubImage2D(GL_TEXTURE_2D, 0, dirty.left, dirty.top, dirty.right - dirty.left,
                                dirty.bottom - dirty.top, m_BytesAsRgba ? GL_RGBA : GL_BGRA, GL_UNSIGNED_BYTE,
                                frame + (static_cast<size_t>(dirty.top) * frameWidth + dirty.left) * 4u);
                glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
                return glGetError() == GL_NO_ERROR;
            },
            [this](const SAPlanarPicture& picture)
            {
                m_PlanarShown = PrivatePlanarUpload(picture) == 0;
                return m_PlanarShown;
            })
            ? 0
            : -1;
    m_UploadNs = PSTimeNanoseconds() - uploadBegin;
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::PrivateDraw glTexSubImage2D failed!\n");
        return result;
    }
    uint32_t framebuffer = 0;
    result = PrivateCreateRenderTargetView(&framebuffer, width, height);
    if (result != 0)
        return result;

    const PSRendererCamera::Matrices matrices = m_Camera.MatricesGet();
    int copyX = 0, copyY = 0;
    bool copy =
        !m_PlanarShown && m_CopyFramebuffer != 0 &&
        PictureUntransformedGet(matrices, m_TextureWidth, m_TextureHeight, *width, *height, &copyX, &copyY);
    if (copy)
    {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
        GLint samples = 0;
        glGetIntegerv(GL_SAMPLE_BUFFERS, &samples);
        if (samples != 0)
        {
            // A copy cannot fill samples: such a drawable is always drawn.
            glDeleteFramebuffers(1, &m_CopyFramebuffer);
            m_CopyFramebuffer = 0;
            copy = false;
        }
    }
    if (copy != m_Copying)
    {
        SALog(SA_LOG_RENDER, "PSRendererGL::PrivateDraw the picture is %s\n",
              copy ? "copied untransformed" : "drawn");
        m_Copying = copy;
    }
    if (copy)
        return PrivateCopy(framebuffer, *width, *height, copyX, copyY);
    glBindBuffer(GL_UNIFORM_BUFFER, m_ModelViewProjectionBuffer);
    glBufferSubData(GL_UNIFORM_BUFFER, 0, 64, glm::value_ptr(matrices.Model));
    glBufferSubData(GL_UNIFORM_BUFFER, 64, 64, glm::value_ptr(matrices.View));
    glBufferSubData(GL_UNIFORM_BUFFER, 128, 64, glm::value_ptr(matrices.Projection));
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, m_ModelViewProjectionBuffer);

    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, *width, *height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    // Faces wound clockwise on screen face the camera; the others are culled.
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);
    glCullFace(GL_BACK);
    glClearColor(LETTERBOX_GREY, LETTERBOX_GREY, LETTERBOX_GREY, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindVertexArray(m_VertexArray);
    if (m_PlanarShown)
    {
        glUseProgram(m_ProgramPlanar);
        for (int plane = 2; plane >= 0; --plane)
        {
            glActiveTexture(GL_TEXTURE0 + plane);
            glBindTexture(GL_TEXTURE_2D, m_TexturesPlanar[plane]);
        }
    }
    else
    {
        glUseProgram(m_Program);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, m_TextureDisplay);
    }
    // Anisotropic filtering only helps where the picture is seen at a slant.
    // Facing the camera the footprint of a pixel is round and linear
    // filtering is what anisotropic filtering should give; some rasterisers
    // (llvmpipe) blur under anisotropy even there, which would spoil the
    // exact 1:1 picture.
    const float anisotropy = matrices.Oblique ? m_Anisotropy : 1.0f;
    if (m_PlanarShown && anisotropy != m_PlanarAnisotropyApplied)
    {
        for (int plane = 0; plane < 3; ++plane)
        {
            glActiveTexture(GL_TEXTURE0 + plane);
            glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, anisotropy);
        }
        m_PlanarAnisotropyApplied = anisotropy;
    }
    else if (!m_PlanarShown && anisotropy != m_AnisotropyApplied)
    {
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, anisotropy);
        m_AnisotropyApplied = anisotropy;
    }
    glDrawElements(GL_TRIANGLES, INDEX_COUNT, GL_UNSIGNED_SHORT, nullptr);
    return ErrorOr(0);
}

int PSRendererGL::PrivateCopy(uint32_t framebuffer, int width, int height, int x, int y)
{
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    GLint alpha = 0;
    glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER,
                                          framebuffer == 0 ? GL_BACK_LEFT : GL_COLOR_ATTACHMENT0,
                                          GL_FRAMEBUFFER_ATTACHMENT_ALPHA_SIZE, &alpha);
    const bool covered = x <= 0 && y <= 0 && x + m_TextureWidth >= width && y + m_TextureHeight >= height;
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    if (!covered)
    {
        glClearColor(LETTERBOX_GREY, LETTERBOX_GREY, LETTERBOX_GREY, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // The texture's rows run from the top of the screen down, the drawable's
    // from the bottom up: the copy flips.
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_CopyFramebuffer);
    glBlitFramebuffer(0, 0, m_TextureWidth, m_TextureHeight, x, y + m_TextureHeight, x + m_TextureWidth, y,
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    if (alpha > 0)
    {
        // The fourth byte of the frame's pixels is undefined; a drawable
        // that keeps alpha gets an opaque picture, as the draw gives it.
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    }
    return ErrorOr(0);
}

bool PSRendererGL::PrivateShowWithoutGl(int count)
{
    if (!m_SoftwareRasteriser.load() || m_PlanarAlways.load() || m_PlanarShown ||
        !m_pSurface->PixelsShowReady())
        return PrivateShowWithoutGlEnd(false);
    float windowWidth = 0.0f, windowHeight = 0.0f;
    m_Camera.WindowSizeGet(&windowWidth, &windowHeight);
    const int width = static_cast<int>(std::lround(windowWidth));
    const int height = static_cast<int>(std::lround(windowHeight));
    int x = 0, y = 0;
    if (width < 1 || height < 1 ||
        !PictureUntransformedGet(m_Camera.MatricesGet(), m_TextureWidth, m_TextureHeight, width, height, &x,
                                 &y))
        return PrivateShowWithoutGlEnd(false);
    // GL pixels count from the bottom, the window's from the top.
    y = height - (y + m_TextureHeight);
    // A repaint, a path switch or a moved or resized picture shows
    // everything again.
    const int shownNow[6] = {width, height, m_TextureWidth, m_TextureHeight, x, y};
    const bool whole = count == 0 || !m_ShownWithoutGl || !std::equal(shownNow, shownNow + 6, m_Shown);
    if (whole)
        m_Frame.DirtyAll();
    const uint64_t begin = PSTimeNanoseconds();
    const bool shown = m_Frame.DirtyUpload(
        [&](const uint8_t* frame, int frameWidth, int frameHeight, const PSRendererRect& dirty)
        {
            return m_pSurface->PixelsShow(frame, frameWidth, frameHeight, dirty, x, y, whole,
                                          static_cast<uint8_t>(std::lround(LETTERBOX_GREY * 255.0f)));
        });
    m_UploadNs = PSTimeNanoseconds() - begin;
    m_TextureStale = true;
    if (!shown)
    {
        // The surface gave up (logged): GL draws from now on, everything.
        m_Frame.DirtyAll();
        return PrivateShowWithoutGlEnd(false);
    }
    std::copy(shownNow, shownNow + 6, m_Shown);
    return PrivateShowWithoutGlEnd(true);
}

bool PSRendererGL::PrivateShowWithoutGlEnd(bool shown)
{
    if (shown != m_ShownWithoutGl)
        SALog(SA_LOG_RENDER, "PSRendererGL::Present the picture is %s\n",
              shown ? "shown without GL" : "drawn with GL");
    m_ShownWithoutGl = shown;
    return shown;
}

bool PSRendererGL::FrameBufferPlanarUpdate(const SAPlanarPicture& picture)
{
    // A software rasteriser runs the converting fragment program on the CPU
    // for every window pixel, several times what the decoder's SIMD
    // conversion costs; the converted picture can also be copied to the
    // window instead of drawn.
    if (m_SoftwareRasteriser.load() && !m_PlanarAlways.load())
        return false;
    return PSRendererFramed::FrameBufferPlanarUpdate(picture);
}

bool PSRendererGL::Present(int count)
{
    {
        PSExceptionGuardLock guard(m_GlLock);
        if (!m_PipelineBuilt)
        {
            if (!m_NoPipelineLogged)
                SALog(SA_LOG_FAILURE, "PSRendererGL::Present failed! no pipeline\n");
            m_NoPipelineLogged = true;
            return false;
        }
        int result = -1;
        if (m_pSurface->MakeCurrent())
        {
            result = 0;
            float windowWidth = 0.0f, windowHeight = 0.0f;
            m_Camera.WindowSizeGet(&windowWidth, &windowHeight);
            const int size[2] = {static_cast<int>(std::lround(windowWidth)),
                                 static_cast<int>(std::lround(windowHeight))};
            const bool sizeSwapped = std::equal(size, size + 2, m_SwapSize);
            const bool afterShow = m_ShownWithoutGl;
            if (PrivateShowWithoutGl(count))
            {
                m_DrawableStale = m_DrawableStale || !sizeSwapped;
            }
            else
            {
                // A software rasteriser's drawable takes the window's size
                // again only after a swap, and PixelsShow swaps nothing: after
                // it ran at another size, GL would draw into a drawable of a
                // size the window no longer has, and the picture would land
                // shifted and cut. One swap first lets the drawable follow.
                if (m_DrawableStale || (afterShow && !sizeSwapped))
                    m_pSurface->SwapBuffers();
                int width = 0, height = 0;
                result = PrivateDraw(&width, &height);
                if (result == 0 && !m_pSurface->SwapBuffers())
                    result = ErrorOr(-1);
                std::copy(size, size + 2, m_SwapSize);
                m_DrawableStale = false;
            }
            m_pSurface->DoneCurrent();
        }
        if (result != 0)
        {
            SALog(SA_LOG_FAILURE, "PSRendererGL::Present (1) failed! 0x%x\n", result);
            PrivateUninitialize();
            return false;
        }
    }
    if (count > 0)
        PrivateFramePresented(PrivateClockGet());
    return true;
}

bool PSRendererGL::WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    PSExceptionGuardLock guard(m_GlLock);
    if (!m_PipelineBuilt)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::WindowSnapshotGet failed! no pipeline\n");
        return false;
    }
    if (!m_pSurface->MakeCurrent())
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::WindowSnapshotGet MakeCurrent failed!\n");
        return false;
    }
    // Drawn again rather than read from the shown buffer: a window's buffer is
    // undefined after a swap.
    int result = PrivateDraw(width, height);
    if (result == 0)
    {
        const size_t pitch = static_cast<size_t>(*width) * 4u;
        std::vector<uint8_t> bottomUp(pitch * static_cast<size_t>(*height));
        result = PSRendererGLApi::PixelsReadBgra(0, 0, *width, *height, bottomUp.data());
        if (result == 0)
        {
            pixels->resize(bottomUp.size());
            for (int row = 0; row < *height; ++row)
                std::memcpy(pixels->data() + static_cast<size_t>(row) * pitch,
                            bottomUp.data() + static_cast<size_t>(*height - 1 - row) * pitch, pitch);
        }
    }
    m_pSurface->DoneCurrent();
    if (result != 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererGL::WindowSnapshotGet glReadPixels failed! 0x%x\n", result);
        return false;
    }
    return true;
}
