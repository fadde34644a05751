#pragma once
// A one-shot job for a PSTaskQueue.
//
// Ownership: the submitter allocates the job; the queue only stores the
// pointer and never frees it. A job is released after its OnExecute has run
// (a self-owned job deletes itself as the last step of OnExecute), or, when
// the queue refuses it because it is stopping, in OnRefused (a self-owned job
// deletes itself there too). Jobs owned elsewhere (reused decoder tasks) keep
// the default OnRefused, which does nothing.
class PSTaskAsyncBase
{
public:
    virtual ~PSTaskAsyncBase();

    // Runs the job on a worker thread. Returns the job's own success; the
    // queue does not look at it (a failing job reports itself).
    virtual bool OnExecute() = 0;

    // Called instead of OnExecute, on the submitting thread and before
    // TaskSubmit returns, when the queue refuses the job because it is
    // stopping, or when a queue that has no running workers is stopped with
    // the job still pending (on the stopping thread). The job is never run.
    virtual void OnRefused();
};
