#include "pipeline/SAMvcModel.h"

#include "core/SALog.h"

SAMvcModel::SAMvcModel(SAQueueScreenUpdates* queue, SANetClientControl* client, SADisplayView* view)
    : m_TaskLoopedFrameBufferProcessor(queue, client, view)
{
}

SAMvcModel::~SAMvcModel()
{
    Uninitialize();
}

bool SAMvcModel::Initialize()
{
    m_TaskLoopedFrameBufferProcessor.CountersReset();
    if (!m_ThreadTaskLoopedFrameBufferProcessor.Start(&m_TaskLoopedFrameBufferProcessor))
    {
        SALog(SA_LOG_FAILURE,
              "SAMvcModel::Initialize m_ThreadTaskLoopedFrameBufferProcessor.Start failed!\n");
        return false;
    }
    return true;
}

void SAMvcModel::Uninitialize()
{
    m_ThreadTaskLoopedFrameBufferProcessor.Stop();
}
