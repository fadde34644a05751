#include "render/PSRendererSurfaceEgl.h"

#include "core/SALog.h"

#include <epoxy/gl.h>

namespace
{
EGLenum ApiEnumGet(PSRendererSurfaceEgl::Api api)
{
    return api == PSRendererSurfaceEgl::Api::OpenGLES ? EGL_OPENGL_ES_API : EGL_OPENGL_API;
}
} // namespace

PSRendererSurfaceEgl::PSRendererSurfaceEgl(Api api) : m_Api(api) {}

PSRendererSurfaceEgl::~PSRendererSurfaceEgl()
{
    if (m_Context == EGL_NO_CONTEXT)
        return;
    if (m_Framebuffer != 0 && MakeCurrent())
    {
        PrivateFramebufferRelease();
        DoneCurrent();
    }
    eglDestroyContext(m_Display, m_Context);
    // The display is shared by every surface of the process (EGL hands out one
    // handle per platform and device), so it is never terminated here.
}

bool PSRendererSurfaceEgl::Initialize()
{
    if (m_Context != EGL_NO_CONTEXT)
        return true;
    if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless"))
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::Initialize eglQueryString failed! "
                              "EGL_MESA_platform_surfaceless missing\n");
        return false;
    }
    m_Display = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (m_Display == EGL_NO_DISPLAY)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::Initialize eglGetPlatformDisplayEXT failed! 0x%x\n",
              eglGetError());
        return false;
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(m_Display, &major, &minor))
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::Initialize eglInitialize failed! 0x%x\n", eglGetError());
        m_Display = EGL_NO_DISPLAY;
        return false;
    }
    const bool es = m_Api == Api::OpenGLES;
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE,
                                       es ? EGL_OPENGL_ES3_BIT : EGL_OPENGL_BIT,
                                       EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(m_Display, configAttributes, &config, 1, &count) || count < 1)
    {
        // Surfaceless contexts do not need a config at all.
        config = EGL_NO_CONFIG_KHR;
        if (!epoxy_has_egl_extension(m_Display, "EGL_KHR_no_config_context"))
        {
            SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::Initialize eglChooseConfig failed! 0x%x\n",
                  eglGetError());
            return false;
        }
    }
    if (!eglBindAPI(ApiEnumGet(m_Api)))
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::Initialize eglBindAPI failed! 0x%x\n", eglGetError());
        return false;
    }
    const EGLint desktopAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                        3,
                                        EGL_CONTEXT_MINOR_VERSION,
                                        3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_NONE};
    const EGLint esAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    const EGLint* contextAttributes = es ? esAttributes : desktopAttributes;
    m_Context = eglCreateContext(m_Display, config, EGL_NO_CONTEXT, contextAttributes);
    if (m_Context == EGL_NO_CONTEXT)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::Initialize eglCreateContext failed! 0x%x\n",
              eglGetError());
        return false;
    }
    SALog(SA_LOG_THREAD, "PSRendererSurfaceEgl::Initialize: EGL %d.%d %s context %p\n", major, minor,
          es ? "OpenGL ES 3.0" : "OpenGL 3.3 core", m_Context);
    return true;
}

bool PSRendererSurfaceEgl::MakeCurrent()
{
    if (m_Context == EGL_NO_CONTEXT)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::MakeCurrent failed! no context\n");
        return false;
    }
    // The bound API is per thread, and a thread other than the creator's may
    // draw: EGL makes current and releases contexts of the bound API only.
    eglBindAPI(ApiEnumGet(m_Api));
    if (!eglMakeCurrent(m_Display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_Context))
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::MakeCurrent eglMakeCurrent failed! 0x%x\n",
              eglGetError());
        return false;
    }
    return true;
}

void PSRendererSurfaceEgl::DoneCurrent()
{
    if (m_Display == EGL_NO_DISPLAY)
        return;
    eglBindAPI(ApiEnumGet(m_Api));
    eglMakeCurrent(m_Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void PSRendererSurfaceEgl::PrivateFramebufferRelease()
{
    if (m_Framebuffer != 0)
        glDeleteFramebuffers(1, &m_Framebuffer);
    if (m_Renderbuffer != 0)
        glDeleteRenderbuffers(1, &m_Renderbuffer);
    m_Framebuffer = 0;
    m_Renderbuffer = 0;
    m_Width = 0;
    m_Height = 0;
}

bool PSRendererSurfaceEgl::FramebufferPrepare(int width, int height, uint32_t* framebuffer)
{
    if (width <= 0 || height <= 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceEgl::FramebufferPrepare failed! size %dx%d\n", width, height);
        return false;
    }
    if (m_Framebuffer != 0 && width == m_Width && height == m_Height)
    {
        *framebuffer = m_Framebuffer;
        return true;
    }
    PrivateFramebufferRelease();
    glGenRenderbuffers(1, &m_Renderbuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, m_Renderbuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenFramebuffers(1, &m_Framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_Framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_Renderbuffer);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererSurfaceEgl::FramebufferPrepare glCheckFramebufferStatus failed! 0x%x\n", status);
        PrivateFramebufferRelease();
        return false;
    }
    m_Width = width;
    m_Height = height;
    *framebuffer = m_Framebuffer;
    return true;
}

bool PSRendererSurfaceEgl::SwapBuffers()
{
    glFlush();
    return true;
}

void PSRendererSurfaceEgl::SizeGet(int* width, int* height)
{
    *width = m_Width;
    *height = m_Height;
}
