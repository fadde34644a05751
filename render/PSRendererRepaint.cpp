#include "render/PSRendererRepaint.h"

#include "render/PSRendererBase.h"

void PSRendererRepaint::RequestSet(std::function<void()> request)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Request = std::move(request);
}

void PSRendererRepaint::Run(PSRendererBase& renderer)
{
    std::function<void()> request;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        request = m_Request;
    }
    if (request)
        request();
    else
        renderer.Present(0);
}
