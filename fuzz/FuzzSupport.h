#pragma once
// What the fuzz targets share: a quiet log, the seed folder, packets made by
// the peer's encoders as seeds, a message target that takes everything, and
// a real socket pair that carries an input to a receiver.
#include "core/SAMessageTarget.h"
#include "net/SANetProtocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Silences the log: a refusal line per input would dominate the run time.
void FuzzLogQuiet();

// Writes the seeds `make` returns into $QM_FUZZ_SEEDS, when that is set.
void FuzzSeedsWrite(std::vector<std::vector<uint8_t>> (*make)());

// Appends a header and its payload, as they follow each other on the stream.
void FuzzPacketAppend(std::vector<uint8_t>& out, const SAPacketHeader& header,
                      const uint8_t* payload = nullptr, size_t bytes = 0);
// A run of FrameBuffer packets of one codec from the peer's encoders: one
// small frame in two bands, or three pictures of an H.264 stream.
// codec: 0 raw, 1 YUV, 2 JPEG, 3 H.264.
std::vector<uint8_t> FuzzFramePackets(int codec);
// Every header-only packet the server sends, valid and malformed.
std::vector<uint8_t> FuzzControlPackets();

// Takes every message and answers 0, as a frame that has gone away would.
class FuzzMessageTarget : public SAMessageTarget
{
public:
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    uint64_t m_Messages = 0;
};

// A connected socket pair whose far end sends the bytes and closes: the
// reader gets them, then the end of the stream. An input larger than the
// socket's buffer (a replayed file) is sent from a thread of its own, joined
// on destruction; so the reader must have closed its end by then (declare
// the stream before the receiver that adopts it).
class FuzzStream
{
public:
    FuzzStream(const uint8_t* data, size_t size);
    ~FuzzStream();
    FuzzStream(const FuzzStream&) = delete;
    FuzzStream& operator=(const FuzzStream&) = delete;

    // The reading end, to be adopted (and closed) by a receiver; -1 when no
    // socket pair could be made.
    int ReaderTake() { return std::exchange(m_Reader, -1); }

private:
    int m_Reader = -1;
    std::thread m_Sender;
};
