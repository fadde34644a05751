#include "peer/PeerAudioMonitor.h"

#include "core/SALog.h"

#include <pulse/error.h>
#include <pulse/simple.h>

PeerAudioMonitor::~PeerAudioMonitor()
{
    if (m_pStream != nullptr)
    {
        pa_simple_free(static_cast<pa_simple*>(m_pStream));
    }
}

bool PeerAudioMonitor::Open()
{
    const pa_sample_spec spec = {PA_SAMPLE_S16LE, 48000, 2};
    // Small fragments: the sound should leave as soon as it was played,
    // not after the server's default of up to two seconds of buffering.
    pa_buffer_attr attributes = {};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.fragsize = 1920;
    int error = 0;
    m_pStream = pa_simple_new(nullptr, "quillmere-peer", PA_STREAM_RECORD, "@DEFAULT_MONITOR@", "monitor",
                              &spec, nullptr, &attributes, &error);
    if (m_pStream == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PeerAudioMonitor::Open failed! pa_simple_new %s\n", pa_strerror(error));
        return false;
    }
    return true;
}

bool PeerAudioMonitor::Read(uint8_t* out, size_t bytes)
{
    int error = 0;
    if (m_pStream == nullptr || pa_simple_read(static_cast<pa_simple*>(m_pStream), out, bytes, &error) < 0)
    {
        SALog(SA_LOG_FAILURE, "PeerAudioMonitor::Read failed! %s\n",
              m_pStream ? pa_strerror(error) : "not open");
        return false;
    }
    return true;
}
