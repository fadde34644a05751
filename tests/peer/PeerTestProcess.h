#pragma once
// Runs the real quillmere-peer executable as a child process for a test:
// waits for its listening line, drains its standard output on a thread and
// collects its exit status.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

class PeerTestProcess
{
public:
    ~PeerTestProcess()
    {
        if (m_Pid > 0)
        {
            kill(m_Pid, SIGKILL);
            int status = 0;
            waitpid(m_Pid, &status, 0);
        }
        if (m_Reader.joinable())
        {
            m_Reader.join();
        }
    }

    // Starts the peer with `arguments` and waits (at most 20 s, a guard
    // against a hang, not a timing check) for "listening on". With
    // `errorPath` its standard error (the log) goes to that file.
    bool Start(const std::vector<std::string>& arguments, const std::string& errorPath = std::string())
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
        {
            return false;
        }
        std::vector<std::string> all = {QM_PEER_EXE};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all)
        {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        m_Pid = fork();
        if (m_Pid == 0)
        {
            dup2(out[1], 1);
            if (!errorPath.empty())
            {
                int error = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                if (error < 0 || dup2(error, 2) < 0)
                {
                    _exit(126);
                }
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        if (m_Pid < 0)
        {
            close(out[0]);
            return false;
        }
        m_OutFd = out[0];
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string text;
        while (text.find("listening on") == std::string::npos ||
               text.find('\n', text.find("listening on")) == std::string::npos)
        {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd fd = {m_OutFd, POLLIN, 0};
            if (left <= 0 || poll(&fd, 1, left) <= 0)
            {
                return false;
            }
            char buffer[512];
            ssize_t got = read(m_OutFd, buffer, sizeof(buffer));
            if (got <= 0)
            {
                return false;
            }
            text.append(buffer, static_cast<size_t>(got));
        }
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Output = text;
        }
        m_Reader = std::thread(
            [this]
            {
                char buffer[512];
                ssize_t got;
                while ((got = read(m_OutFd, buffer, sizeof(buffer))) > 0)
                {
                    std::lock_guard<std::mutex> guard(m_Lock);
                    m_Output.append(buffer, static_cast<size_t>(got));
                }
                close(m_OutFd);
            });
        return true;
    }

    // Waits for the child to exit (guard: 30 s, then it is killed) and
    // returns its exit status, or -signal when a signal ended it, or -1000
    // when it had to be killed.
    int Wait()
    {
        if (m_Pid <= 0)
        {
            return -2000;
        }
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;)
        {
            pid_t done = waitpid(m_Pid, &status, WNOHANG);
            if (done == m_Pid)
            {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline)
            {
                kill(m_Pid, SIGKILL);
                waitpid(m_Pid, &status, 0);
                m_Pid = -1;
                return -1000;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_Pid = -1;
        if (m_Reader.joinable())
        {
            m_Reader.join();
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    void Signal(int signal) const
    {
        if (m_Pid > 0)
        {
            kill(m_Pid, signal);
        }
    }

    pid_t PidGet() const { return m_Pid; }

    std::string OutputGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Output;
    }

private:
    pid_t m_Pid = -1;
    int m_OutFd = -1;
    std::thread m_Reader;
    std::mutex m_Lock;
    std::string m_Output; // guarded by m_Lock
};
