// The display connection's stream of a real X display (--source x11) and the
// input applied to it (--inject): the parts of PeerConnection that need the
// X libraries.
#include "peer/PeerConnection.h"

#include "core/SALog.h"
#include "peer/PeerInjectX11.h"
#include "peer/PeerPacket.h"
#include "peer/PeerSourceX11.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace
{
// The viewer decodes up to four fragments of a frame side by side.
constexpr int PEER_X11_MAX_FRAGMENTS = 4;
// How often a still screen looks whether the connection should end.
constexpr int PEER_X11_IDLE_MS = 100;
// Failed reads in a row before the stream gives up.
constexpr int PEER_X11_CAPTURE_RETRIES = 10;
} // namespace

bool PeerConnection::PrivateBandSend(PeerEncoder& encoder, const uint8_t* band, size_t pitch, int width,
                                     int height, int top, int bottom, int fragments)
{
    const uint8_t* payload = nullptr;
    size_t payloadBytes = 0;
    if (!encoder.BandEncode(band, width, pitch, bottom - top, payload, payloadBytes))
    {
        SALog(SA_LOG_FAILURE, "PeerConnection::PrivateBandSend failed! BandEncode rows %d..%d\n", top,
              bottom);
        return false;
    }
    const SAPacketHeader header =
        encoder.BandHeaderGet(width, height, width, pitch, top, bottom - top, fragments, payloadBytes);
    if (!m_Socket.Send(header.m_Bytes, SA_PACKET_HEADER_SIZE, payload, payloadBytes))
    {
        if (!PrivateEnding())
        {
            SALog(SA_LOG_FAILURE, "PeerConnection::PrivateBandSend failed! Send rows %d..%d\n", top, bottom);
        }
        return false;
    }
    m_BytesSent += SA_PACKET_HEADER_SIZE + payloadBytes;
    return true;
}

void PeerConnection::PrivateStreamX11()
{
    // The viewer's choice where it made one (type 5, "choose best", leaves
    // it to the server: --codec and --quality).
    PeerCodec codec = m_Options.Codec;
    int quality = m_Options.Quality;
    const uint16_t asked = m_Request.CompressionType;
    if (asked == 0 || asked == 1 || asked == 3 || asked == 4)
    {
        codec = asked == 0   ? PeerCodec::Raw
                : asked == 1 ? PeerCodec::Yuv
                : asked == 3 ? PeerCodec::Jpeg
                             : PeerCodec::H264;
        if (m_Request.Quality >= 1 && m_Request.Quality <= 100)
        {
            quality = static_cast<int>(m_Request.Quality);
        }
    }
    const int fps = m_Request.Framerate > 0 ? m_Request.Framerate : m_Options.Fps;
    PeerSourceX11 source;
    if (!source.Open(m_Options.X11Display))
    {
        if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
        {
            PrivateGracefulClose();
        }
        return;
    }
    if (!m_Options.Quiet)
    {
        std::printf(
            "quillmere-peer: connection %u shows the X display at %dx%d, %s quality %d, up to %d fps\n", m_Id,
            source.WidthGet(), source.HeightGet(), PeerOptions::CodecName(codec), quality, fps);
        std::fflush(stdout);
    }
    if (!PrivateHeaderSend(PeerPacket::Visibility(1)))
    {
        return;
    }
    // An H.264 picture is always the whole screen (see PrivateFrameSend).
    const bool wholeScreen = codec == PeerCodec::H264;
    const int maxRuns = wholeScreen ? 1 : PEER_X11_MAX_FRAGMENTS;
    const int minRuns = wholeScreen ? 1 : m_Options.Fragments;
    std::unique_ptr<PeerEncoder> encoder;
    using Clock = std::chrono::steady_clock;
    const auto period = fps > 0 ? std::chrono::nanoseconds(1000000000LL / fps) : std::chrono::nanoseconds(0);
    auto due = Clock::now();
    std::vector<std::pair<int, int>> runs;
    size_t lastFragments = 0; // of the last frame sent
    int captureFailures = 0;
    // The display went away under the stream (a log out, the X server
    // ended): the viewer is told the stream is over, as at any other end.
    auto displayLost = [&]
    {
        SALog(SA_LOG_FAILURE, "PeerConnection::PrivateStreamX11 connection %u: the X display is gone\n",
              m_Id);
        if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
        {
            PrivateGracefulClose();
        }
    };
    uint32_t scenarioDone = UINT32_MAX; // a frame not sent is tried again
    for (uint32_t frameNumber = 0;;)
    {
        bool ended = false;
        int overhang = 0;
        if (frameNumber != scenarioDone && (!PrivateScenarioRun(frameNumber, ended, overhang) || ended))
        {
            return;
        }
        scenarioDone = frameNumber;
        if (m_Options.Frames != 0 && frameNumber >= m_Options.Frames)
        {
            if (PrivateHeaderSend(PeerPacket::Disconnect(0)))
            {
                PrivateGracefulClose();
            }
            return;
        }
        if (period.count() > 0 && !PrivateSleepUntil(due))
        {
            return;
        }
        // A still screen sends nothing; the first frame is the whole screen.
        while (!source.ChangeWait(PEER_X11_IDLE_MS))
        {
            if (source.LostGet())
            {
                displayLost();
                return;
            }
            if (PrivateEnding())
            {
                return;
            }
        }
        // Changes made while the viewer catches up join the next frame.
        if (!PrivateWindowWait(frameNumber))
        {
            return;
        }
        if (period.count() > 0)
        {
            due = std::max(due + period, Clock::now());
        }
        bool resized = false;
        if (!source.RunsTake(maxRuns, minRuns, runs, resized))
        {
            if (source.LostGet())
            {
                displayLost();
            }
            return;
        }
        if (runs.empty())
        {
            continue; // the change was undone or outside the screen
        }
        const int width = source.WidthGet();
        const int height = source.HeightGet();
        if (resized || !encoder)
        {
            // A new size restarts the stream: a new encoder (for H.264 a
            // new sequence starting with a key frame) and the whole screen.
            const PeerCodec fit = PeerEncoder::CodecFit(codec, width, height);
            if (fit != codec && !m_Options.Quiet)
            {
                std::printf(
                    "quillmere-peer: connection %u: the screen is %dx%d, and an H.264 picture has even "
                    "sides; sending %s\n",
                    m_Id, width, height, PeerOptions::CodecName(fit));
                std::fflush(stdout);
            }
            encoder = std::make_unique<PeerEncoder>(fit, quality, m_Options.Gop, m_Options.Bitrate,
                                                    std::max(fps, 1));
        }
        if (wholeScreen)
        {
            runs.assign(1, {0, height});
        }
        // Every band is read before the first is sent: a frame cut short
        // would leave the viewer counting fragments wrongly. A read fails
        // when the screen shrank and RandR has not told yet; the next
        // round reads the whole screen at its new size.
        bool captured = true;
        for (const auto& [top, bottom] : runs)
        {
            captured = captured && source.RowsCapture(top, bottom);
        }
        if (!captured)
        {
            if (source.LostGet())
            {
                displayLost();
                return;
            }
            if (++captureFailures > PEER_X11_CAPTURE_RETRIES)
            {
                return;
            }
            source.AllMark();
            continue;
        }
        captureFailures = 0;
        // The viewer takes the n-th packet of a stream as fragment n modulo
        // the frame's count: a frame of another count than the last one
        // starts the counting afresh, or its bands would be taken out of
        // place and its last one left waiting for a frame end that never
        // comes.
        if (lastFragments != 0 && runs.size() != lastFragments &&
            !PrivateHeaderSend(PeerPacket::StreamReset(0)))
        {
            return;
        }
        lastFragments = runs.size();
        const size_t pitch = source.PitchGet();
        for (const auto& [top, bottom] : runs)
        {
            if (!PrivateBandSend(*encoder, source.PixelsGet() + static_cast<size_t>(top) * pitch, pitch,
                                 width, height, top, bottom, static_cast<int>(runs.size())))
            {
                return;
            }
        }
        PrivateFrameSentNote();
        m_Observer->ConnectionFrameSent(frameNumber);
        ++frameNumber;
    }
}

void PeerConnection::PrivateInputApply(const SAPacketHeader& header)
{
    switch (header.HeaderTypeGet())
    {
    case SA_HEADER_INPUT_MOUSE:
        m_pInject->MouseApply(header.S32Get(SAWire::MOUSE_X), header.S32Get(SAWire::MOUSE_Y),
                              header.U32Get(SAWire::MOUSE_BUTTON_DATA),
                              header.U32Get(SAWire::MOUSE_BUTTON_FLAGS));
        break;
    case SA_HEADER_INPUT_KEYBOARD:
        m_pInject->KeyboardApply(header.U32Get(SAWire::KEY_VKEY_CODE), header.U32Get(SAWire::KEY_SCAN_CODE),
                                 header.U32Get(SAWire::KEY_FLAGS));
        break;
    case SA_HEADER_INPUT_TOUCH:
        m_pInject->TouchApply(header.S32Get(SAWire::TOUCH_X), header.S32Get(SAWire::TOUCH_Y),
                              header.S32Get(SAWire::TOUCH_RESOLUTION_WIDTH),
                              header.S32Get(SAWire::TOUCH_RESOLUTION_HEIGHT),
                              header.U32Get(SAWire::TOUCH_FLAGS));
        break;
    default:
        break;
    }
}
