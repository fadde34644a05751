#pragma once
// One of the four decoder tasks of the frame buffer processor. It holds the
// packet of its current fragment, decodes it on a decoder worker thread and
// copies the rectangle into the display view's renderer. A task is reused for
// every frame and owned by the processor (OnRefused leaves it alone).
//
// Threads: PacketSet on the processor thread while the task is idle, with
// the decode target the view holds then (the view's pointer is the
// processor thread's alone); OnExecute on one decoder worker at a time (or on the
// processor thread, for a frame of one fragment). m_Busy is set by the processor
// at submission and cleared as the last step of OnExecute (or on refusal), so
// the processor never hands a running task a new packet.
#include "core/PSTaskAsyncBase.h"
#include "net/SAQueueScreenUpdates.h"
#include "pipeline/SADecoderFrameBuffer.h"

#include <atomic>
#include <cstdint>

class SADisplayView;

class SATaskQueuedDecoder : public PSTaskAsyncBase
{
public:
    // view: borrowed; outlives the task (the processor stops its decoder
    // queue before the view goes).
    explicit SATaskQueuedDecoder(SADisplayView* view);
    ~SATaskQueuedDecoder() override;

    // Takes the packet of fragment `fragmentIndex`, which OnExecute frees
    // once decoded, and where to decode it (null while the view has no renderer). The
    // processor keeps the target alive until the task has run.
    void PacketSet(SAScreenUpdate&& packet, int32_t fragmentIndex, SADecodeTarget* target);
    bool OnExecute() override;
    void OnRefused() override;

    bool BusyGet() const { return m_Busy.load(std::memory_order_acquire); }
    void BusySet() { m_Busy.store(true, std::memory_order_release); }

private:
    static void PrivateAbandon(void* task);

    int32_t m_FragmentIndex = 0;
    SAScreenUpdate m_Packet;
    SADecodeTarget* m_pTarget = nullptr;
    SADisplayView* const m_pView;
    SADecoderFrameBuffer m_Decoder;
    std::atomic<bool> m_Busy{false};
};
