#pragma once
// The repaint request of a renderer (see PSRendererBase::RepaintRequestSet):
// how its parameter operations and pointer moves get the picture shown
// again. Set, the function runs (the application posts a repaint marker so
// that only the render thread draws); unset, the renderer presents with count
// 0 on the calling thread.
//
// Threads: any. The request is copied under the lock and run outside it, so
// a request that calls back into the renderer cannot deadlock on it.
#include <functional>
#include <mutex>

class PSRendererBase;

class PSRendererRepaint
{
public:
    void RequestSet(std::function<void()> request);
    void Run(PSRendererBase& renderer);

private:
    std::mutex m_Lock;
    std::function<void()> m_Request; // guarded by m_Lock
};
