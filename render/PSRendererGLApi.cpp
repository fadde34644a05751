#include "render/PSRendererGLApi.h"

#include "core/SALog.h"

#include <epoxy/gl.h>

#include <cstring>
#include <utility>
#include <vector>

namespace
{
void RedBlueExchange(uint8_t* pixels, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        std::swap(pixels[i * 4], pixels[i * 4 + 2]);
}
} // namespace

bool PSRendererGLApi::CurrentCheck(const char* owner, bool* es)
{
    *es = !epoxy_is_desktop_gl();
    const int version = epoxy_gl_version();
    if (version < (*es ? 30 : 33))
    {
        SALog(SA_LOG_FAILURE, "%s failed! OpenGL %s%d, 33 or ES 30 needed\n", owner, *es ? "ES " : "",
              version);
        return false;
    }
    return true;
}

bool PSRendererGLApi::SoftwareRasteriserIs()
{
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return renderer != nullptr &&
           (std::strstr(renderer, "llvmpipe") != nullptr || std::strstr(renderer, "softpipe") != nullptr ||
            std::strstr(renderer, "swrast") != nullptr);
}

const char* PSRendererGLApi::ShaderHeaderGet(bool es)
{
    return es ? "#version 300 es\nprecision highp float;\nprecision highp sampler2D;\n"
              : "#version 330 core\n";
}

uint32_t PSRendererGLApi::ShaderCompile(uint32_t type, bool es, const char* body, const char* owner,
                                        const char* name)
{
    GLuint shader = glCreateShader(type);
    const char* sources[2] = {ShaderHeaderGet(es), body};
    glShaderSource(shader, 2, sources, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE)
    {
        char text[1024] = {};
        glGetShaderInfoLog(shader, sizeof(text), nullptr, text);
        SALog(SA_LOG_FAILURE, "%s glCompileShader failed! %s %s\n", owner, name, text);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

bool PSRendererGLApi::AnisotropySupportedGet(bool es)
{
    return (!es && epoxy_gl_version() >= 46) || epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic") ||
           epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic");
}

int PSRendererGLApi::PixelsReadBgra(int x, int y, int width, int height, uint8_t* pixels)
{
    const bool es = !epoxy_is_desktop_gl();
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(x, y, width, height, es ? GL_RGBA : GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR && es)
        RedBlueExchange(pixels, static_cast<size_t>(width) * static_cast<size_t>(height));
    return static_cast<int>(error);
}

int PSRendererGLApi::TextureWriteBgra(int x, int y, int width, int height, const uint8_t* pixels)
{
    const bool es = !epoxy_is_desktop_gl();
    std::vector<uint8_t> exchanged;
    if (es)
    {
        exchanged.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height) * 4u);
        RedBlueExchange(exchanged.data(), static_cast<size_t>(width) * static_cast<size_t>(height));
        pixels = exchanged.data();
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, width, height, es ? GL_RGBA : GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    return static_cast<int>(glGetError());
}
