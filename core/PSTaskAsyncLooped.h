#pragma once
// A looped task: repeats one step on a thread of its own (PSThreadTaskLoop)
// until the step says stop. The receiver of the server connection, the audio
// receiver-renderer, the frame buffer processor and the discovery tasks are
// looped tasks. A looped task is a member of its owner and outlives its thread.
//
// Threads: OnEntry, OnExecute and OnExit run on the loop thread; StopRequest
// is called from another thread (the owner's) while the loop may be running.
#include "core/PSTaskAsyncBase.h"

class PSTaskAsyncLooped : public PSTaskAsyncBase
{
public:
    ~PSTaskAsyncLooped() override;

    // One step of the loop: true to be called again, false to end the loop.
    bool OnExecute() override = 0;
    // Called once on the loop thread before the first step: true enters the loop.
    virtual bool OnEntry() = 0;
    // Called once on the loop thread after the last step, also when OnEntry
    // returned false.
    virtual void OnExit() = 0;
    // Makes the running loop end soon (close a socket, set a flag and wake
    // the loop, ...). Called from another thread; must be harmless when the
    // loop is not running.
    virtual void StopRequest() = 0;
};
