#include "pipeline/SATaskQueuedDecoder.h"

#include "core/PSExceptionGuard.h"
#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "pipeline/SADisplayView.h"
#include "pipeline/SAPipelineOptions.h"

namespace
{
// lParam of the H.264 error message.
constexpr intptr_t SA_H264_ERROR_INITIALIZATION = 1;
constexpr intptr_t SA_H264_ERROR_DECODING = 2;
} // namespace

SATaskQueuedDecoder::SATaskQueuedDecoder(SADisplayView* view) : m_pView(view) {}

SATaskQueuedDecoder::~SATaskQueuedDecoder() = default;

void SATaskQueuedDecoder::PacketSet(SAScreenUpdate&& packet, int32_t fragmentIndex, SADecodeTarget* target)
{
    m_Packet = std::move(packet);
    m_FragmentIndex = fragmentIndex;
    m_pTarget = target;
}

void SATaskQueuedDecoder::PrivateAbandon(void* task)
{
    static_cast<SATaskQueuedDecoder*>(task)->m_Busy.store(false, std::memory_order_release);
}

bool SATaskQueuedDecoder::OnExecute()
{
    // A fault in the decode abandons the job; the task is idle all the same.
    PSExceptionGuardCleanup idle(&PrivateAbandon, this);
    bool decoded = false;
    if (m_Packet.m_pPacket)
    {
        m_Decoder.DumpEnabledSet(SAPipelineOptions::s_SaveEncodedFrames.load());
        SADecodeTarget::FragmentIndexCurrentSet(m_FragmentIndex);
        // Without a renderer an H.264 unit is still decoded: the pictures
        // after it refer to it.
        SADecodeResult result =
            m_Decoder.Decode(m_Packet.m_pPacket.get(), m_Packet.m_PacketSize, m_FragmentIndex, m_pTarget);
        decoded = result == SADecodeResult::Decoded;
        // The view shows the error and disconnects; the task waits for it,
        // so the next fragment never races the message box.
        if (result == SADecodeResult::H264InitError)
            m_pView->MessageTargetGet()->Send(SA_WM_APP_H264_ERROR, 0, SA_H264_ERROR_INITIALIZATION);
        else if (result == SADecodeResult::H264DecodeError)
            m_pView->MessageTargetGet()->Send(SA_WM_APP_H264_ERROR, 0, SA_H264_ERROR_DECODING);
    }
    // Held until the next fragment came, four tasks would keep four
    // fragments of a large screen for as long as the picture stands still.
    m_Packet = SAScreenUpdate{};
    m_Busy.store(false, std::memory_order_release);
    return decoded;
}

void SATaskQueuedDecoder::OnRefused()
{
    m_Busy.store(false, std::memory_order_release);
}
