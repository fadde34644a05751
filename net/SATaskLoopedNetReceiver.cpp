#include "net/SATaskLoopedNetReceiver.h"

#include "core/PSThreadBase.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFstmEventData.h"
#include "net/SANetProtocol.h"
#include "net/SAQueueScreenUpdates.h"

#include <algorithm>
#include <new>

SATaskLoopedNetReceiver::SATaskLoopedNetReceiver(SAQueueScreenUpdates* queue, SAMessageTarget* notifyTarget)
    : m_pQueue(queue), m_pNotifyTarget(notifyTarget)
{
}

SATaskLoopedNetReceiver::~SATaskLoopedNetReceiver() = default;

void SATaskLoopedNetReceiver::ConnectionSet(std::shared_ptr<SANetSocketStream> stream, intptr_t tag)
{
    std::lock_guard<std::mutex> guard(m_ConnectionLock);
    m_pConnection = std::move(stream);
    m_ConnectionTag = tag;
}

bool SATaskLoopedNetReceiver::OnEntry()
{
    {
        std::lock_guard<std::mutex> guard(m_ConnectionLock);
        m_pNetSocketStream = m_pConnection;
        m_Tag = m_ConnectionTag;
    }
    if (!m_pNetSocketStream)
        m_pNetSocketStream = std::make_shared<SANetSocketStream>(true); // nothing to read: ends at once
    PSThreadBase::PrioritySet(PS_THREAD_PRIORITY_TIME_CRITICAL);
    m_FragmentCounter = 0;
    m_FrameBytes = 0;
    m_FrameStart = 0;
    m_LastDisconnectReason = -1;
    m_AppendAbandon = false;
    return true;
}

void SATaskLoopedNetReceiver::PrivateFrameStatisticsFirst(uint32_t byteCount)
{
    uint32_t index = m_Statistics.m_RingIndex.load(std::memory_order_relaxed);
    uint32_t now = PSTimeGetTime();
    m_Statistics.m_IntervalRing[index].store(now - m_FrameStart, std::memory_order_relaxed);
    m_FrameStart = now;
    m_FrameBytes = byteCount;
}

void SATaskLoopedNetReceiver::PrivateFrameStatisticsLast(int32_t fragmentCount)
{
    if (static_cast<int64_t>(m_FragmentCounter) + 1 == fragmentCount)
    {
        uint32_t index = m_Statistics.m_RingIndex.load(std::memory_order_relaxed);
        m_Statistics.m_FrameTimeRing[index].store(PSTimeGetTime() - m_FrameStart, std::memory_order_relaxed);
        m_Statistics.m_FrameBytesRing[index].store(m_FrameBytes, std::memory_order_relaxed);
        m_Statistics.m_RingIndex.store((index + 1) % SA_NET_STATISTICS_RING_SLOTS, std::memory_order_relaxed);
        m_FragmentCounter = 0;
    }
    else
    {
        ++m_FragmentCounter;
    }
}

void SATaskLoopedNetReceiver::PrivateFrameStatisticsAdd(uint32_t byteCount)
{
    if (m_FragmentCounter == 0)
        PrivateFrameStatisticsFirst(byteCount);
    else
        m_FrameBytes += static_cast<uint32_t>(SA_PACKET_HEADER_SIZE) + byteCount;
}

bool SATaskLoopedNetReceiver::PrivateFrameOutOfBoundsSkip(SAPacketHeader header)
{
    const uint32_t byteCount = header.ByteCountGet();
    if (!m_pNetSocketStream->ReceiveDiscard(byteCount))
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetReceiver::OnExecute failed! m_NetSocketStream.ReceiveTcpStream (data)\n");
        return false;
    }
    // The server counts this fragment towards its frame and waits for the
    // frame's acknowledgement like any other: dropping it here would leave
    // the frame unacknowledged for good and the fragment index of the rest
    // out of step. The header goes on without its payload; the processor
    // counts it and the decoder refuses what it describes.
    PrivateFrameStatisticsAdd(byteCount);
    header.ByteCountSet(0);
    // A screen the viewer refuses must not resize it either: the header goes
    // on at the last size a packet was kept for.
    const SAFrameBufferInfo info = SAPacketFrameBufferDecode(header);
    if (!SANetProtocol::ScreenSizeValid(info.ScreenWidth, info.ScreenHeight))
    {
        header.S32Set(SAWire::FB_SCREEN_WIDTH, m_ScreenWidthLast);
        header.S32Set(SAWire::FB_SCREEN_HEIGHT, m_ScreenHeightLast);
    }
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[SA_PACKET_HEADER_SIZE]);
    if (!block)
    {
        SALog(SA_LOG_FAILURE, "SATaskLoopedNetReceiver::OnExecute failed! no memory\n");
        return false;
    }
    std::memcpy(block.get(), header.m_Bytes, SA_PACKET_HEADER_SIZE);
    if (!PrivatePacketAppend(std::move(block), SA_PACKET_HEADER_SIZE))
        return false;
    PrivateFrameStatisticsLast(info.FragmentCount());
    return true;
}

bool SATaskLoopedNetReceiver::OnExecute()
{
    SAPacketHeader header;
    if (!m_pNetSocketStream->ReceiveTcpStream(header.m_Bytes, SA_PACKET_HEADER_SIZE))
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetReceiver::OnExecute failed! m_NetSocketStream.ReceiveTcpStream (header)\n");
        return false;
    }
    m_Statistics.m_HeadersReceived.fetch_add(1, std::memory_order_relaxed);

    const SAPacketVerdict verdict = SANetProtocol::PacketCheck(header);
    if (verdict != SAPacketVerdict::Valid)
    {
        SALog(SA_LOG_FAILURE, "SATaskLoopedNetReceiver::OnExecute failed! SANetProtocol::PacketValidate\n");
        if (verdict == SAPacketVerdict::StreamBroken)
            return false;
        if (verdict == SAPacketVerdict::PayloadSkip)
            return PrivateFrameOutOfBoundsSkip(header);
        return true;
    }

    const uint32_t type = header.HeaderTypeGet();
    switch (type)
    {
    case SA_HEADER_DISCONNECT:
    {
        int32_t reason = header.S32Get(SAWire::DISCONNECT_REASON);
        m_LastDisconnectReason = reason;
        m_pNotifyTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, reason);
        m_pNotifyTarget->Post(SA_WM_APP_STATUS_REFRESH, 0, 0);
        return true;
    }
    case SA_HEADER_VISIBILITY:
    {
        int32_t visible = header.S32Get(SAWire::VISIBILITY_IS_VISIBLE);
        m_pNotifyTarget->Send(SA_WM_APP_FSTM_EVENT,
                              visible == 1 ? SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON
                                           : SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_OFF,
                              0);
        m_pNotifyTarget->Post(SA_WM_APP_STATUS_REFRESH, 0, 0);
        return true;
    }
    case SA_HEADER_STREAM_RESET:
        m_pQueue->FragmentResetAppend();
        // Counting restarts with the next packet, on this side as on the
        // processor's.
        m_FragmentCounter = 0;
        if (header.U32Get(SAWire::STREAM_RESET_REPLY_REQUEST) == 1)
            m_pNotifyTarget->Send(SA_WM_APP_STREAM_RESET_REPLY, 0, 0);
        m_pNotifyTarget->Post(SA_WM_APP_STATUS_REFRESH, 0, 0);
        return true;
    case SA_HEADER_TYPE_4:
        m_pNotifyTarget->Post(SA_WM_APP_STATUS_REFRESH, 0, 0);
        return true;
    default:
        break;
    }

    const uint32_t byteCount = header.ByteCountGet();
    if (type != SA_HEADER_FRAME_BUFFER)
    {
        // Nothing the viewer keeps: read past in small pieces, so that what
        // a header announces is never held in memory.
        if (!m_pNetSocketStream->ReceiveDiscard(byteCount))
        {
            SALog(SA_LOG_FAILURE,
                  "SATaskLoopedNetReceiver::OnExecute failed! m_NetSocketStream.ReceiveTcpStream (data)\n");
            return false;
        }
        return true;
    }
    PrivateFrameStatisticsAdd(byteCount);

    // A header may announce far more than its server ever sends (up to a
    // gigabyte passes the protocol's bounds): the block grows with the bytes
    // that come, from a first piece that holds every usual packet, so memory
    // follows what arrived rather than what was announced.
    constexpr size_t FIRST_PIECE = size_t(16) << 20;
    const size_t blockSize = SA_PACKET_HEADER_SIZE + static_cast<size_t>(byteCount);
    size_t capacity = std::min(blockSize, SA_PACKET_HEADER_SIZE + FIRST_PIECE);
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[capacity]);
    if (!block)
    {
        SALog(SA_LOG_FAILURE, "SATaskLoopedNetReceiver::OnExecute failed! no memory\n");
        return false;
    }
    std::memcpy(block.get(), header.m_Bytes, SA_PACKET_HEADER_SIZE);
    for (size_t filled = SA_PACKET_HEADER_SIZE;;)
    {
        if (!m_pNetSocketStream->ReceiveTcpStream(block.get() + filled, capacity - filled))
        {
            SALog(SA_LOG_FAILURE,
                  "SATaskLoopedNetReceiver::OnExecute failed! m_NetSocketStream.ReceiveTcpStream (data)\n");
            return false;
        }
        filled = capacity;
        if (filled == blockSize)
            break;
        capacity = std::min(blockSize, 2 * capacity);
        std::unique_ptr<uint8_t[]> larger(new (std::nothrow) uint8_t[capacity]);
        if (!larger)
        {
            SALog(SA_LOG_FAILURE, "SATaskLoopedNetReceiver::OnExecute failed! no memory\n");
            return false;
        }
        std::memcpy(larger.get(), block.get(), filled);
        block = std::move(larger);
    }

    const SAFrameBufferInfo info = SAPacketFrameBufferDecode(header);
    m_ScreenWidthLast = info.ScreenWidth;
    m_ScreenHeightLast = info.ScreenHeight;
    if (!PrivatePacketAppend(std::move(block), blockSize))
        return false;
    PrivateFrameStatisticsLast(info.FragmentCount());
    return true;
}

bool SATaskLoopedNetReceiver::PrivatePacketAppend(std::unique_ptr<uint8_t[]> block, size_t blockSize)
{
    // A full queue holds this thread here, and with it the reading of the
    // socket, until the processor has made room; a stop must not wait for
    // that.
    if (m_pQueue->PacketAppend(std::move(block), blockSize,
                               [this] { return m_AppendAbandon.load() || !m_pNetSocketStream->IsOpen(); }))
        return true;
    SALog(SA_LOG_FAILURE, "SATaskLoopedNetReceiver::OnExecute failed! m_pQueue->PacketAppend\n");
    return false;
}

void SATaskLoopedNetReceiver::OnExit()
{
    m_pNetSocketStream->Close();
    m_pNetSocketStream.reset();
    m_pQueue->FragmentResetAppend();
    m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, m_Tag);
}

void SATaskLoopedNetReceiver::StopRequest()
{
    std::shared_ptr<SANetSocketStream> stream;
    {
        std::lock_guard<std::mutex> guard(m_ConnectionLock);
        stream = m_pConnection;
    }
    if (stream)
        stream->Close();
    m_AppendAbandon = true;
    m_pQueue->WaitersWake();
}
