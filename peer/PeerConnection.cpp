#include "peer/PeerConnection.h"

#include "core/SALog.h"
#include "peer/PeerAudioMonitor.h"
#include "peer/PeerConnectRequest.h"
#include "peer/PeerFrameLoop.h"
#include "peer/PeerFrameSynth.h"
#include "peer/PeerInjectX11.h"
#include "peer/PeerJsonLine.h"
#include "peer/PeerPacket.h"
#include "peer/PeerRecorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace
{
// How long a finished stream waits for the viewer to close its side, so
// that closing never discards data the viewer has not read yet.
constexpr auto PEER_CLOSE_LINGER = std::chrono::milliseconds(2000);
// Chaos mode: a viewer that has not acknowledged for this long lost frames
// to a malformed packet (or is stuck); the connection is dropped so that the
// run goes on instead of waiting for good.
constexpr auto PEER_CHAOS_STALL = std::chrono::milliseconds(3000);

PeerCodec PrivateCodecChoose(const PeerOptions& options, uint32_t id)
{
    if (!options.Chaos)
    {
        return options.Codec;
    }
    return id % 2 == 0 ? PeerCodec::H264 : PeerCodec::Jpeg;
}

// Each connection its own sequence, the same for the same seed.
std::mt19937 PrivateChaosEngine(uint32_t seed, uint32_t id)
{
    std::seed_seq sequence{seed, id};
    return std::mt19937(sequence);
}

// Non-zero header bytes at or after `from`, apart from [skipFrom, skipTo).
int64_t PrivateStrayBytes(const SAPacketHeader& header, size_t from, size_t skipFrom = 0, size_t skipTo = 0)
{
    int64_t count = 0;
    for (size_t i = from; i < SA_PACKET_HEADER_SIZE; ++i)
    {
        if ((i < skipFrom || i >= skipTo) && header.m_Bytes[i] != 0)
        {
            ++count;
        }
    }
    return count;
}
} // namespace

PeerConnection::PeerConnection(int fd, uint32_t id, const PeerOptions& options, const PeerScenario& scenario,
                               PeerRecorder* recorder, PeerConnectionObserver* observer,
                               const PeerFrameLoop* loop)
    : m_Socket(fd), m_Id(id), m_Options(options), m_Scenario(scenario), m_Recorder(recorder),
      m_Observer(observer), m_pLoop(loop), m_Codec(PrivateCodecChoose(options, id)),
      m_Encoder(m_Codec, options.Quality, options.Gop, options.Bitrate, options.Fps),
      m_Chaos(PrivateChaosEngine(options.ChaosSeed, id))
{
}

PeerConnection::~PeerConnection()
{
    StopRequest();
    Join();
}

bool PeerConnection::Start()
{
    try
    {
        m_Thread = std::thread(&PeerConnection::PrivateRun, this);
    }
    catch (const std::exception& e)
    {
        SALog(SA_LOG_FAILURE, "PeerConnection::Start failed! std::thread %s\n", e.what());
        return false;
    }
    return true;
}

void PeerConnection::StopRequest()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Stop = true;
    }
    m_Wake.notify_all();
    m_Socket.ShutdownBoth();
}

void PeerConnection::Join()
{
    if (m_Thread.joinable())
    {
        m_Thread.join();
    }
}

void PeerConnection::PrivateRecord(PeerJsonLine& line)
{
    if (m_Recorder != nullptr)
    {
        m_Recorder->LineWrite(line.Text());
    }
}

bool PeerConnection::PrivateEnding()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Stop || m_ViewerGone;
}

void PeerConnection::PrivateRun()
{
    std::string remote = m_Socket.RemoteText();
    if (!m_Options.Quiet)
    {
        std::printf("quillmere-peer: connection %u from %s\n", m_Id, remote.c_str());
        std::fflush(stdout);
    }
    uint32_t requestKind = 0;
    // Taken only once the request tells a display connection from an audio
    // one; a viewer's audio connection does not count against its display.
    bool slot = false;
    if (PrivateConnectRequestRead(requestKind))
    {
        if (requestKind == 0)
        {
            slot = m_Observer->DisplaySlotTake(m_Id);
        }
        const bool turnedAway = requestKind == 0 && !slot;
#ifdef QM_PEER_X11
        if (slot && m_Options.Inject)
        {
            m_pInject = std::make_unique<PeerInjectX11>();
            if (!m_pInject->Open(m_Options.X11Display))
            {
                m_pInject.reset();
            }
        }
#endif
        try
        {
            m_ReceiverThread = std::thread(&PeerConnection::PrivateReceiveLoop, this);
        }
        catch (const std::exception& e)
        {
            SALog(SA_LOG_FAILURE, "PeerConnection::PrivateRun failed! std::thread %s\n", e.what());
        }
        if (m_ReceiverThread.joinable())
        {
            if (turnedAway)
            {
                SALog(SA_LOG_FAILURE,
                      "PeerConnection::PrivateRun connection %u from %s turned away: %u display connections "
                      "are served already (--max-clients)\n",
                      m_Id, remote.c_str(), m_Options.MaxClients);
                if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
                {
                    PrivateGracefulClose();
                }
            }
            else
#ifdef QM_PEER_X11
                if (requestKind == 0 && m_Options.Source == PeerSource::X11)
            {
                PrivateStreamX11();
            }
            else
#endif
                if (requestKind == 0)
            {
                PrivateStream();
            }
            else if (requestKind == 3)
            {
                PrivateAudioStream();
            }
            else
            {
                SALog(SA_LOG_FAILURE, "PeerConnection::PrivateRun failed! Unsupported request kind:%u\n",
                      requestKind);
                if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
                {
                    PrivateGracefulClose();
                }
            }
            if (slot && m_Options.Stats)
            {
                PrivateStatsPrint(std::chrono::steady_clock::now());
            }
        }
    }
    // Before the socket is shut: a viewer that saw its connection end may
    // take the slot again at once.
    if (slot)
    {
        m_Observer->DisplaySlotRelease(m_Id);
    }
    PrivateReceiverStop();
    if (!m_Options.Quiet)
    {
        uint64_t framesSent = 0;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            framesSent = m_FramesSent;
        }
        if (requestKind == 3)
        {
            std::printf("quillmere-peer: connection %u ended after %llu audio packets\n", m_Id,
                        static_cast<unsigned long long>(m_AudioPacketsSent));
        }
        else
        {
            std::printf("quillmere-peer: connection %u ended after %llu frames, %llu bytes\n", m_Id,
                        static_cast<unsigned long long>(framesSent),
                        static_cast<unsigned long long>(m_BytesSent));
        }
        std::fflush(stdout);
    }
    m_Observer->ConnectionEnded(m_Id);
    m_Finished.store(true);
}

void PeerConnection::PrivateReceiverStop()
{
    m_Socket.ShutdownBoth();
    if (m_ReceiverThread.joinable())
    {
        m_ReceiverThread.join();
    }
}

bool PeerConnection::PrivateConnectRequestRead(uint32_t& requestKind)
{
    uint8_t packet[SA_CONNECT_REQUEST_SIZE] = {};
    // Until the request is in, a socket costs a thread and a descriptor
    // without serving anyone: it gets a deadline, after which it is closed.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_Options.RequestTimeoutMs);
    bool late = false;
    auto lateLog = [&]
    {
        SALog(SA_LOG_FAILURE,
              "PeerConnection::PrivateConnectRequestRead failed! Connection %u from %s: no connect request "
              "within %u ms; closing\n",
              m_Id, m_Socket.RemoteText().c_str(), m_Options.RequestTimeoutMs);
    };
    if (!m_Socket.ReceiveBefore(packet, SA_PACKET_HEADER_SIZE, deadline, late))
    {
        if (late)
        {
            lateLog();
        }
        else
        {
            SALog(SA_LOG_FAILURE, "PeerConnection::PrivateConnectRequestRead failed! Receive (header)\n");
        }
        return false;
    }
    uint32_t type = SAWireU32Get(packet);
    uint32_t byteCount = SAWireU32Get(packet + 4);
    if (type != SA_HEADER_CONNECT_REQUEST || byteCount != SA_CONNECT_REQUEST_PAYLOAD_SIZE)
    {
        SALog(SA_LOG_FAILURE,
              "PeerConnection::PrivateConnectRequestRead failed! Not a connect request: type:%u byte "
              "count:%u\n",
              type, byteCount);
        PeerJsonLine line;
        line.Add("conn", m_Id)
            .Add("type", "InvalidConnectRequest")
            .Add("headerType", type)
            .Add("byteCount", byteCount);
        PrivateRecord(line);
        return false;
    }
    if (!m_Socket.ReceiveBefore(packet + SA_PACKET_HEADER_SIZE, SA_CONNECT_REQUEST_PAYLOAD_SIZE, deadline,
                                late))
    {
        if (late)
        {
            lateLog();
        }
        else
        {
            SALog(SA_LOG_FAILURE, "PeerConnection::PrivateConnectRequestRead failed! Receive (payload)\n");
        }
        return false;
    }
    PeerConnectRequest& request = m_Request;
    PeerConnectRequest::Decode(packet, sizeof(packet), request);
    std::string resolutions = "[";
    for (size_t i = 0; i < request.Resolutions.size(); ++i)
    {
        resolutions += (i ? ",[" : "[") + std::to_string(request.Resolutions[i].first) + "," +
                       std::to_string(request.Resolutions[i].second) + "]";
    }
    resolutions += "]";
    std::string constants = "[";
    for (size_t i = 0; i < 6; ++i)
    {
        constants += (i ? "," : "") + std::to_string(request.Constants[i]);
    }
    constants += "]";
    PeerJsonLine line;
    line.Add("conn", m_Id)
        .Add("type", "ConnectRequest")
        .Add("kind", request.RequestKind)
        .Add("quality", request.Quality)
        .Add("compressionType", request.CompressionType)
        .Add("compressionFlag", request.CompressionFlag)
        .Add("framerate", request.Framerate)
        .Add("resolutionCount", request.ResolutionCount)
        .AddRaw("resolutions", resolutions)
        .Add("instanceId", request.InstanceId)
        .Add("computerName", request.ComputerName)
        .AddRaw("constants", constants);
    PrivateRecord(line);
    requestKind = request.RequestKind;
    return true;
}

void PeerConnection::PrivateReceiveLoop()
{
    for (;;)
    {
        SAPacketHeader header;
        if (!m_Socket.Receive(header.m_Bytes, SA_PACKET_HEADER_SIZE))
        {
            break;
        }
        uint32_t type = header.HeaderTypeGet();
        uint32_t byteCount = header.ByteCountGet();
        PeerJsonLine line;
        line.Add("conn", m_Id);
        if (byteCount > PEER_VIEWER_BYTE_COUNT_LIMIT)
        {
            SALog(SA_LOG_FAILURE, "PeerConnection::PrivateReceiveLoop failed! Header type:%u byte count:%u\n",
                  type, byteCount);
            line.Add("type", "Oversized").Add("headerType", type).Add("byteCount", byteCount);
            PrivateRecord(line);
            break;
        }
        if (byteCount > 0 && !m_Socket.Skip(byteCount))
        {
            break;
        }
        bool viewerLeaves = false;
        switch (type)
        {
        case SA_HEADER_FRAME_ACKNOWLEDGE:
        {
            uint64_t acks = 0;
            uint64_t framesSent = 0;
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                acks = ++m_Acks;
                framesSent = m_FramesSent;
                if (m_Options.Stats)
                {
                    m_AckTimes.push_back(std::chrono::steady_clock::now());
                }
            }
            m_Wake.notify_all();
            line.Add("type", "FrameAcknowledge")
                .Add("acks", static_cast<int64_t>(acks))
                .Add("framesSent", static_cast<int64_t>(framesSent))
                .Add("strayBytes", PrivateStrayBytes(header, 8));
            break;
        }
        case SA_HEADER_STREAM_RESET:
            line.Add("type", "StreamReset")
                .Add("replyRequest", header.U32Get(SAWire::STREAM_RESET_REPLY_REQUEST))
                .Add("strayBytes", PrivateStrayBytes(header, 8, 12, 16));
            break;
        case SA_HEADER_DISCONNECT:
            line.Add("type", "Disconnect")
                .Add("reason", header.S32Get(SAWire::DISCONNECT_REASON))
                .Add("strayBytes", PrivateStrayBytes(header, 12));
            viewerLeaves = true;
            break;
        case SA_HEADER_INPUT_MOUSE:
            line.Add("type", "InputMouse")
                .Add("x", header.S32Get(SAWire::MOUSE_X))
                .Add("y", header.S32Get(SAWire::MOUSE_Y))
                .Add("buttonData", header.U32Get(SAWire::MOUSE_BUTTON_DATA))
                .Add("buttonFlags", header.U32Get(SAWire::MOUSE_BUTTON_FLAGS))
                .Add("flags", header.U32Get(SAWire::MOUSE_FLAGS))
                .Add("strayBytes", PrivateStrayBytes(header, 28));
            break;
        case SA_HEADER_INPUT_KEYBOARD:
            line.Add("type", "InputKeyboard")
                .Add("vKeyCode", header.U32Get(SAWire::KEY_VKEY_CODE))
                .Add("scanCode", header.U32Get(SAWire::KEY_SCAN_CODE))
                .Add("flags", header.U32Get(SAWire::KEY_FLAGS))
                .Add("strayBytes", PrivateStrayBytes(header, 20));
            break;
        case SA_HEADER_INPUT_TOUCH:
            line.Add("type", "InputTouch")
                .Add("x", header.S32Get(SAWire::TOUCH_X))
                .Add("y", header.S32Get(SAWire::TOUCH_Y))
                .Add("resolutionWidth", header.S32Get(SAWire::TOUCH_RESOLUTION_WIDTH))
                .Add("resolutionHeight", header.S32Get(SAWire::TOUCH_RESOLUTION_HEIGHT))
                .Add("flags", header.U32Get(SAWire::TOUCH_FLAGS))
                .Add("timeMs", header.U32Get(SAWire::TOUCH_TIME_MS))
                .Add("strayBytes", PrivateStrayBytes(header, 32));
            break;
        default:
            line.Add("type", "Unknown").Add("headerType", type).Add("byteCount", byteCount);
            break;
        }
        PrivateRecord(line);
#ifdef QM_PEER_X11
        if (m_pInject && (type == SA_HEADER_INPUT_MOUSE || type == SA_HEADER_INPUT_KEYBOARD ||
                          type == SA_HEADER_INPUT_TOUCH))
        {
            PrivateInputApply(header);
        }
#endif
        if (viewerLeaves)
        {
            break;
        }
    }
#ifdef QM_PEER_X11
    // Gone without its releases (a crash, a lost network, another viewer
    // taking over), the viewer must not leave the shared desktop with keys
    // or buttons held.
    if (m_pInject)
    {
        m_pInject->ReleaseAll();
        // Closed by the thread that used it: a call that found the display
        // lost leaves it locked by this thread, and a close elsewhere would
        // wait for that lock for good.
        m_pInject.reset();
    }
#endif
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_ViewerGone = true;
        m_ReceiverDone = true;
    }
    m_Wake.notify_all();
}

bool PeerConnection::PrivateHeaderSend(const SAPacketHeader& header)
{
    if (!m_Socket.Send(header.m_Bytes, SA_PACKET_HEADER_SIZE))
    {
        if (!PrivateEnding())
        {
            SALog(SA_LOG_FAILURE, "PeerConnection::PrivateHeaderSend failed! Send type:%u\n",
                  header.HeaderTypeGet());
        }
        return false;
    }
    return true;
}

void PeerConnection::PrivateGracefulClose()
{
    m_Socket.ShutdownWrite();
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Wake.wait_for(lock, PEER_CLOSE_LINGER, [this] { return m_ReceiverDone || m_Stop; });
}

bool PeerConnection::PrivateWindowWait(uint64_t sent)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    auto ready = [&]
    {
        return m_Stop || m_ViewerGone || m_Options.Window == 0 ||
               sent < m_Acks + static_cast<uint64_t>(m_Options.Window);
    };
    if (!m_Options.Chaos)
    {
        m_Wake.wait(lock, ready);
    }
    else if (!m_Wake.wait_for(lock, PEER_CHAOS_STALL, ready))
    {
        return false;
    }
    if (m_Stop || m_ViewerGone)
    {
        return false;
    }
    // Counted under the lock that counts acknowledgements, so a recorded
    // acknowledgement shows exactly how many frames flow control had let go.
    m_FramesSent = sent + 1;
    return true;
}

bool PeerConnection::PrivateSleepUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Wake.wait_until(lock, deadline, [this] { return m_Stop || m_ViewerGone; });
    return !(m_Stop || m_ViewerGone);
}

bool PeerConnection::PrivateScenarioRun(uint32_t frameNumber, bool& ended, int& overhang)
{
    ended = false;
    overhang = 0;
    for (const PeerScenarioEvent& event : m_Scenario.EventsAt(frameNumber))
    {
        switch (event.Kind)
        {
        case PeerScenarioKind::Reset:
            if (!PrivateHeaderSend(PeerPacket::StreamReset(static_cast<uint32_t>(event.Value))))
            {
                return false;
            }
            break;
        case PeerScenarioKind::Visibility:
            if (!PrivateHeaderSend(PeerPacket::Visibility(event.Value)))
            {
                return false;
            }
            break;
        case PeerScenarioKind::Malformed:
            for (int32_t kind = 1; kind <= PEER_MALFORMED_KIND_COUNT; ++kind)
            {
                if ((event.Value == 0 || event.Value == kind) &&
                    !PrivateHeaderSend(PeerPacket::Malformed(kind, m_Options.Width, m_Options.Height)))
                {
                    return false;
                }
            }
            break;
        case PeerScenarioKind::Overhang:
            overhang = event.Value;
            break;
        case PeerScenarioKind::Disconnect:
            if (PrivateHeaderSend(PeerPacket::Disconnect(event.Value)))
            {
                PrivateGracefulClose();
            }
            ended = true;
            return true;
        }
    }
    return true;
}

uint32_t PeerConnection::PrivateChaosNumber(uint32_t low, uint32_t high)
{
    return std::uniform_int_distribution<uint32_t>(low, high)(m_Chaos);
}

bool PeerConnection::PrivateChaosRun(uint32_t frameNumber, bool& ended, int& overhang, Damage& damage)
{
    ended = false;
    damage = Damage::None;
    if (!m_Options.Chaos || frameNumber < m_ChaosNext)
    {
        return true;
    }
    m_ChaosNext = frameNumber + PrivateChaosNumber(5, 60);
    switch (PrivateChaosNumber(0, 7))
    {
    case 0: // the connection drops without a Disconnect
        ended = true;
        return true;
    case 1:
        return PrivateHeaderSend(PeerPacket::StreamReset(PrivateChaosNumber(0, 1)));
    case 2: // the display is hidden for a while, and no frames come
        return PrivateHeaderSend(PeerPacket::Visibility(0)) &&
               PrivateSleepUntil(std::chrono::steady_clock::now() +
                                 std::chrono::milliseconds(PrivateChaosNumber(100, 1500))) &&
               PrivateHeaderSend(PeerPacket::Visibility(1));
    case 3:
        return PrivateHeaderSend(
            PeerPacket::Malformed(static_cast<int32_t>(PrivateChaosNumber(1, PEER_MALFORMED_KIND_COUNT)),
                                  m_Options.Width, m_Options.Height));
    case 4:
    {
        // A frame announcing more than it needs, or more than any buffer may
        // hold, and the connection drops before the payload.
        PeerFrameBufferFields fields;
        fields.ScreenWidth = m_Options.Width;
        fields.ScreenHeight = m_Options.Height;
        fields.PitchInBytes = 4 * m_Options.Width;
        fields.Right = m_Options.Width;
        fields.Bottom = m_Options.Height;
        fields.CompressionType = m_Encoder.CompressionTypeGet();
        fields.Quality = m_Encoder.QualityFieldGet();
        const uint64_t twice = 8ull * static_cast<uint64_t>(m_Options.Width) * m_Options.Height;
        fields.PayloadBytes = PrivateChaosNumber(0, 1) == 0
                                  ? 0xFFFFFFFFu
                                  : static_cast<uint32_t>(std::min<uint64_t>(twice, 0xFFFFFFFFu));
        PrivateHeaderSend(PeerPacket::FrameBuffer(fields));
        ended = true;
        return true;
    }
    case 5:
        damage = Damage::Truncate;
        return true;
    case 6:
        damage = Damage::Corrupt;
        return true;
    default:
        overhang = static_cast<int>(PrivateChaosNumber(1, 64));
        return true;
    }
}

bool PeerConnection::PrivateFrameSend(uint32_t frameNumber, int overhang, Damage damage)
{
    const int width = m_Options.Width;
    const int height = m_Options.Height;
    const size_t pitch = static_cast<size_t>(width) * 4;
    // A band needs at least one row. An H.264 access unit is always the
    // whole screen: the stream's pictures cannot change size or place, so
    // neither bands nor an overhang apply.
    const bool wholeScreen = m_Codec == PeerCodec::H264;
    const int fragments = wholeScreen ? 1 : std::min(m_Options.Fragments, height);
    if (wholeScreen)
    {
        overhang = 0;
    }
    if (m_pLoop != nullptr)
    {
        // Options refuse --loop with anything that would alter a frame.
        for (const PeerLoopBand& band : m_pLoop->FrameGet(frameNumber))
        {
            if (!m_Socket.Send(band.Header.m_Bytes, SA_PACKET_HEADER_SIZE, band.Payload.data(),
                               band.Payload.size()))
            {
                if (!PrivateEnding())
                {
                    SALog(SA_LOG_FAILURE, "PeerConnection::PrivateFrameSend failed! Send frame:%u\n",
                          frameNumber);
                }
                return false;
            }
            m_BytesSent += SA_PACKET_HEADER_SIZE + band.Payload.size();
        }
        PrivateFrameSentNote();
        return true;
    }
    PeerFrameSynth(width, height, frameNumber, m_Frame.data(), m_Options.Motion);
    for (int i = 0; i < fragments; ++i)
    {
        int top = i * height / fragments;
        int bottom = (i + 1) * height / fragments;
        const uint8_t* band = m_Frame.data() + top * pitch;
        int bandWidth = width;
        size_t bandPitch = pitch;
        if (overhang > 0 && i == fragments - 1)
        {
            // The band's rows, then magenta beyond the screen edge.
            bandWidth = width + overhang;
            bandPitch = static_cast<size_t>(bandWidth) * 4;
            m_Overhang.resize(bandPitch * static_cast<size_t>(bottom - top));
            for (int y = 0; y < bottom - top; ++y)
            {
                uint8_t* row = m_Overhang.data() + y * bandPitch;
                std::memcpy(row, band + y * pitch, pitch);
                for (int x = width; x < bandWidth; ++x)
                {
                    row[x * 4 + 0] = 255;
                    row[x * 4 + 1] = 0;
                    row[x * 4 + 2] = 255;
                    row[x * 4 + 3] = 255;
                }
            }
            band = m_Overhang.data();
        }
        const uint8_t* payload = nullptr;
        size_t payloadBytes = 0;
        if (!m_Encoder.BandEncode(band, bandWidth, bandPitch, bottom - top, payload, payloadBytes))
        {
            SALog(SA_LOG_FAILURE,
                  "PeerConnection::PrivateFrameSend failed! BandEncode frame:%u fragment:%d\n", frameNumber,
                  i);
            return false;
        }
        const SAPacketHeader header = m_Encoder.BandHeaderGet(width, height, bandWidth, bandPitch, top,
                                                              bottom - top, fragments, payloadBytes);
        if (damage == Damage::Truncate)
        {
            m_Socket.Send(header.m_Bytes, SA_PACKET_HEADER_SIZE, payload, payloadBytes / 2);
            return false;
        }
        if (damage == Damage::Corrupt && payloadBytes > 0)
        {
            m_Damaged.assign(payload, payload + payloadBytes);
            for (int n = 0; n < 16; ++n)
            {
                m_Damaged[PrivateChaosNumber(0, static_cast<uint32_t>(payloadBytes - 1))] =
                    static_cast<uint8_t>(PrivateChaosNumber(0, 255));
            }
            payload = m_Damaged.data();
        }
        if (!m_Socket.Send(header.m_Bytes, SA_PACKET_HEADER_SIZE, payload, payloadBytes))
        {
            if (!PrivateEnding())
            {
                SALog(SA_LOG_FAILURE, "PeerConnection::PrivateFrameSend failed! Send frame:%u fragment:%d\n",
                      frameNumber, i);
            }
            return false;
        }
        m_BytesSent += SA_PACKET_HEADER_SIZE + payloadBytes;
    }
    PrivateFrameSentNote();
    return true;
}

void PeerConnection::PrivateFrameSentNote()
{
    if (m_Options.Stats)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_SentTimes.push_back(std::chrono::steady_clock::now());
    }
}

void PeerConnection::PrivateStatsPrint(std::chrono::steady_clock::time_point end)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> latencies;
    double seconds = 0.0;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        const Clock::time_point steady =
            m_SentTimes.empty() ? end
                                : m_SentTimes.front() + std::chrono::milliseconds(m_Options.StatsWarmupMs);
        // A benchmark's own measured interval, or else the rest of the
        // connection (a viewer's shutdown then counts as well).
        if (m_Options.StatsSpanMs > 0)
        {
            end = std::min(end, steady + std::chrono::milliseconds(m_Options.StatsSpanMs));
        }
        // Paired only now: an acknowledgement may be noted before the send
        // of its frame is (the two threads race by microseconds).
        const size_t paired = std::min(m_SentTimes.size(), m_AckTimes.size());
        for (size_t k = 0; k < paired; ++k)
        {
            if (m_AckTimes[k] >= steady && m_AckTimes[k] < end)
            {
                const auto delay = std::max(m_AckTimes[k] - m_SentTimes[k], Clock::duration::zero());
                latencies.push_back(std::chrono::duration<double, std::milli>(delay).count());
            }
        }
        seconds = std::chrono::duration<double>(end - steady).count();
    }
    std::sort(latencies.begin(), latencies.end());
    // Nearest rank: the smallest latency that at least this share of frames
    // did not exceed.
    auto percentile = [&](double share)
    {
        if (latencies.empty())
        {
            return 0.0;
        }
        const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(latencies.size())));
        return latencies[std::clamp<size_t>(rank, 1, latencies.size()) - 1];
    };
    const double fps = seconds > 0.0 ? static_cast<double>(latencies.size()) / seconds : 0.0;
    std::printf(
        "stats connection=%u frames=%zu seconds=%.2f fps=%.2f ack_p50=%.2f ack_p95=%.2f ack_p99=%.2f\n", m_Id,
        latencies.size(), std::max(seconds, 0.0), fps, percentile(0.50), percentile(0.95), percentile(0.99));
    std::fflush(stdout);
}

void PeerConnection::PrivateStream()
{
    if (m_pLoop == nullptr)
    {
        m_Frame.assign(static_cast<size_t>(m_Options.Width) * m_Options.Height * 4, 0);
    }
    if (!PrivateHeaderSend(PeerPacket::Visibility(1)))
    {
        return;
    }
    using Clock = std::chrono::steady_clock;
    const auto period = m_Options.Fps > 0 ? std::chrono::nanoseconds(1000000000LL / m_Options.Fps)
                                          : std::chrono::nanoseconds(0);
    auto due = Clock::now();
    for (uint32_t frameNumber = 0;; ++frameNumber)
    {
        bool ended = false;
        int overhang = 0;
        Damage damage = Damage::None;
        if (!PrivateScenarioRun(frameNumber, ended, overhang) || ended)
        {
            return;
        }
        int chaosOverhang = 0;
        if (!PrivateChaosRun(frameNumber, ended, chaosOverhang, damage) || ended)
        {
            return;
        }
        overhang = std::max(overhang, chaosOverhang);
        if (m_Options.Frames != 0 && frameNumber >= m_Options.Frames)
        {
            if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
            {
                PrivateGracefulClose();
            }
            return;
        }
        if (period.count() > 0)
        {
            if (!PrivateSleepUntil(due))
            {
                return;
            }
        }
        if (!PrivateWindowWait(frameNumber))
        {
            return;
        }
        if (period.count() > 0)
        {
            // After a stall (flow control) the pace restarts instead of bursting.
            due = std::max(due + period, Clock::now());
        }
        if (!PrivateFrameSend(frameNumber, overhang, damage))
        {
            return;
        }
        m_Observer->ConnectionFrameSent(frameNumber);
        if (m_Options.Still)
        {
            // The picture stands: the connection stays open and quiet until
            // the viewer leaves or the peer stops.
            while (PrivateSleepUntil(Clock::now() + std::chrono::seconds(1)))
            {
            }
            return;
        }
    }
}

void PeerConnection::AudioToneFill(uint64_t firstFrame, uint8_t* out, size_t frames)
{
    constexpr double amplitude = 8000.0;
    constexpr double twoPi = 6.283185307179586;
    for (size_t i = 0; i < frames; ++i)
    {
        // The tone repeats every 96 frames (2 ms), so the phase stays exact
        // however long the stream runs.
        const double n = static_cast<double>((firstFrame + i) % 96) + 0.5;
        const auto left = static_cast<int16_t>(std::lround(amplitude * std::sin(twoPi * n / 48.0)));
        const auto right = static_cast<int16_t>(std::lround(amplitude * std::sin(twoPi * n / 96.0)));
        const auto l = static_cast<uint16_t>(left);
        const auto r = static_cast<uint16_t>(right);
        out[i * 4 + 0] = static_cast<uint8_t>(l & 0xFF);
        out[i * 4 + 1] = static_cast<uint8_t>(l >> 8);
        out[i * 4 + 2] = static_cast<uint8_t>(r & 0xFF);
        out[i * 4 + 3] = static_cast<uint8_t>(r >> 8);
    }
}

void PeerConnection::PrivateAudioStream()
{
    using Clock = std::chrono::steady_clock;
    if (m_Options.Audio == PeerAudio::Off)
    {
        // Accepted and silent until the viewer leaves or the peer stops.
        while (PrivateSleepUntil(Clock::now() + std::chrono::seconds(1)))
        {
        }
        return;
    }
#ifdef QM_PEER_PULSE
    PeerAudioMonitor monitor;
    if (m_Options.Audio == PeerAudio::Monitor && monitor.Open())
    {
        // The sound card's own clock paces the stream: each read returns
        // when 10 ms more were played.
        std::vector<uint8_t> sound(PEER_AUDIO_PACKET_BYTES);
        SAPacketHeader header;
        header.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
        header.ByteCountSet(static_cast<uint32_t>(PEER_AUDIO_PACKET_BYTES));
        for (uint64_t packet = 0; !PrivateEnding(); ++packet)
        {
            if (m_Options.AudioPackets != 0 && packet >= m_Options.AudioPackets)
            {
                if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
                {
                    PrivateGracefulClose();
                }
                return;
            }
            if (!monitor.Read(sound.data(), sound.size()) ||
                !m_Socket.Send(header.m_Bytes, SA_PACKET_HEADER_SIZE, sound.data(), sound.size()))
            {
                return;
            }
            ++m_AudioPacketsSent;
        }
        return;
    }
#endif
    // The packet period of a clock PPM fast: more packets per real second.
    const double periodNs =
        1e9 * PEER_AUDIO_PACKET_FRAMES / PEER_AUDIO_RATE / (1.0 + m_Options.AudioSkewPpm * 1e-6);
    const auto period = std::chrono::nanoseconds(std::llround(periodNs));
    const uint64_t stallPacket = m_Options.AudioStallMs != 0 ? m_Options.AudioStallAtMs * PEER_AUDIO_RATE /
                                                                   1000 / PEER_AUDIO_PACKET_FRAMES
                                                             : UINT64_MAX;
    std::vector<uint8_t> payload(PEER_AUDIO_PACKET_BYTES);
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
    header.ByteCountSet(static_cast<uint32_t>(PEER_AUDIO_PACKET_BYTES));
    // Packet k is due at origin + (k - originPacket) periods, computed whole
    // each time so that a skew of a few ppm does not round away.
    auto origin = Clock::now();
    uint64_t originPacket = 0;
    auto dueOf = [&](uint64_t k) {
        return origin +
               std::chrono::nanoseconds(std::llround(static_cast<double>(k - originPacket) * periodNs));
    };
    bool backlog = false;
    for (uint64_t packet = 0;; ++packet)
    {
        if (m_Options.AudioPackets != 0 && packet >= m_Options.AudioPackets)
        {
            if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
            {
                PrivateGracefulClose();
            }
            return;
        }
        const auto due = dueOf(packet);
        if (packet == stallPacket)
        {
            // A scripted stall: nothing goes out for its length, then every
            // packet it held back goes out at once.
            if (!PrivateSleepUntil(due + std::chrono::milliseconds(m_Options.AudioStallMs)))
            {
                return;
            }
            backlog = true;
        }
        // Paced like a sound card: one packet per 10 ms, sleeping in
        // between; a viewer Disconnect or close and a shutdown wake the wait.
        if (!PrivateSleepUntil(due))
        {
            return;
        }
        PrivateAudioFill(packet * PEER_AUDIO_PACKET_FRAMES, payload.data());
        if (!m_Socket.Send(header.m_Bytes, SA_PACKET_HEADER_SIZE, payload.data(), payload.size()))
        {
            if (!PrivateEnding())
            {
                SALog(SA_LOG_FAILURE, "PeerConnection::PrivateAudioStream failed! Send packet:%llu\n",
                      static_cast<unsigned long long>(packet));
            }
            return;
        }
        ++m_AudioPacketsSent;
        const auto now = Clock::now();
        if (backlog)
        {
            backlog = dueOf(packet + 1) < now;
        }
        else if (dueOf(packet + 1) < now - period)
        {
            // A viewer that stalled the stream (a full socket) gets the sound
            // from now on, not a burst of what it missed.
            origin = now - period;
            originPacket = packet + 1;
        }
    }
}

void PeerConnection::PrivateAudioFill(uint64_t firstFrame, uint8_t* out) const
{
    if (m_Options.Audio != PeerAudio::Wav)
    {
        AudioToneFill(firstFrame, out, PEER_AUDIO_PACKET_FRAMES);
        return;
    }
    const std::vector<uint8_t>& wav = m_Options.AudioWav;
    const size_t wavFrames = wav.size() / 4;
    size_t at = static_cast<size_t>(firstFrame % wavFrames);
    for (size_t done = 0; done < PEER_AUDIO_PACKET_FRAMES;)
    {
        const size_t take = std::min(PEER_AUDIO_PACKET_FRAMES - done, wavFrames - at);
        std::memcpy(out + done * 4, wav.data() + at * 4, take * 4);
        done += take;
        at = 0;
    }
}
