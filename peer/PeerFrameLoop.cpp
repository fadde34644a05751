#include "peer/PeerFrameLoop.h"

#include "peer/PeerEncoder.h"
#include "peer/PeerFrameSynth.h"

#include <algorithm>

bool PeerFrameLoop::Build(const PeerOptions& options, std::string& error)
{
    m_Frames.clear();
    const int width = options.Width;
    const int height = options.Height;
    const size_t pitch = static_cast<size_t>(width) * 4;
    // As PeerConnection bands a frame: an H.264 access unit is the whole screen.
    const int fragments = options.Codec == PeerCodec::H264 ? 1 : std::min(options.Fragments, height);
    PeerEncoder encoder(options.Codec, options.Quality, options.Gop, options.Bitrate, options.Fps);
    std::vector<uint8_t> picture(pitch * static_cast<size_t>(height));
    for (uint32_t frameNumber = 0; frameNumber < options.Loop; ++frameNumber)
    {
        PeerFrameSynth(width, height, frameNumber, picture.data(), options.Motion);
        std::vector<PeerLoopBand> bands;
        for (int i = 0; i < fragments; ++i)
        {
            const int top = i * height / fragments;
            const int bottom = (i + 1) * height / fragments;
            const uint8_t* payload = nullptr;
            size_t payloadBytes = 0;
            if (!encoder.BandEncode(picture.data() + static_cast<size_t>(top) * pitch, width, pitch,
                                    bottom - top, payload, payloadBytes))
            {
                error = "cannot encode frame " + std::to_string(frameNumber) + " for --loop";
                return false;
            }
            PeerLoopBand band;
            band.Header = encoder.BandHeaderGet(width, height, width, pitch, top, bottom - top, fragments,
                                                payloadBytes);
            band.Payload.assign(payload, payload + payloadBytes);
            bands.push_back(std::move(band));
        }
        m_Frames.push_back(std::move(bands));
    }
    return true;
}
