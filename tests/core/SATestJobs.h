#pragma once
// Jobs for task queue tests.
#include "core/PSEvent.h"
#include "core/PSTaskAsyncBase.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// Counts what happened to a family of self-owned jobs: each job deletes
// itself at the end of OnExecute or in OnRefused, like the transmit jobs.
struct SATestJobTally
{
    std::atomic<int> executed{0};
    std::atomic<int> refused{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> inside{0};
    std::atomic<int> insideMax{0};
    std::mutex lock;
    std::vector<int> order; // guarded by lock
};

class SATestJobSelfOwned : public PSTaskAsyncBase
{
public:
    SATestJobSelfOwned(SATestJobTally& tally, int index, std::function<void()> body = {})
        : m_Tally(tally), m_Index(index), m_Body(std::move(body))
    {
    }
    ~SATestJobSelfOwned() override { ++m_Tally.destroyed; }

    bool OnExecute() override
    {
        int inside = ++m_Tally.inside;
        int seen = m_Tally.insideMax.load();
        while (inside > seen && !m_Tally.insideMax.compare_exchange_weak(seen, inside))
        {
        }
        {
            std::lock_guard<std::mutex> guard(m_Tally.lock);
            m_Tally.order.push_back(m_Index);
        }
        if (m_Body)
            m_Body();
        --m_Tally.inside;
        ++m_Tally.executed;
        delete this;
        return true;
    }
    void OnRefused() override
    {
        ++m_Tally.refused;
        delete this;
    }

private:
    SATestJobTally& m_Tally;
    int m_Index;
    std::function<void()> m_Body;
};

// A job owned by the test (on its stack or in a container), for jobs that may
// be abandoned half-way and so never reach a self-delete.
class SATestJobBorrowed : public PSTaskAsyncBase
{
public:
    SATestJobBorrowed(SATestJobTally& tally, int index, std::function<void()> body = {})
        : m_Tally(tally), m_Index(index), m_Body(std::move(body))
    {
    }

    bool OnExecute() override
    {
        {
            std::lock_guard<std::mutex> guard(m_Tally.lock);
            m_Tally.order.push_back(m_Index);
        }
        if (m_Body)
            m_Body();
        ++m_Tally.executed;
        return true;
    }
    void OnRefused() override { ++m_Tally.refused; }

private:
    SATestJobTally& m_Tally;
    int m_Index;
    std::function<void()> m_Body;
};
