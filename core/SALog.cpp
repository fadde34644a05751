#include "core/SALog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
uint32_t PrivateMaskInitial()
{
    uint32_t mask = SA_LOG_MASK_DEFAULT;
    if (const char* text = std::getenv("QUILLMERE_LOG_MASK"))
    {
        char* end = nullptr;
        unsigned long value = std::strtoul(text, &end, 16);
        if (end != text)
            mask |= static_cast<uint32_t>(value);
    }
    return mask;
}

std::atomic<uint32_t>& PrivateMask()
{
    static std::atomic<uint32_t> mask{PrivateMaskInitial()};
    return mask;
}

struct SinkTable
{
    std::mutex lock;
    std::map<int, SALogSink> sinks;
    int next = 1;
    std::atomic<bool> any{false};
};

SinkTable& PrivateSinks()
{
    static SinkTable* table = new SinkTable; // never destroyed: logging may run during exit
    return *table;
}
} // namespace

uint32_t SALogMaskGet()
{
    return PrivateMask().load(std::memory_order_relaxed);
}

void SALogMaskSet(uint32_t mask)
{
    PrivateMask().store(mask, std::memory_order_relaxed);
}

int SALogSinkAdd(SALogSink sink)
{
    SinkTable& t = PrivateSinks();
    std::lock_guard<std::mutex> guard(t.lock);
    int id = t.next++;
    t.sinks.emplace(id, std::move(sink));
    t.any = true;
    return id;
}

void SALogSinkRemove(int id)
{
    SinkTable& t = PrivateSinks();
    std::lock_guard<std::mutex> guard(t.lock);
    t.sinks.erase(id);
    t.any = !t.sinks.empty();
}

void SALog(uint32_t category, const char* format, ...)
{
    if ((category & SALogMaskGet()) == 0)
        return;

    char buffer[SA_LOG_BUFFER_CHARS + 32];
    int prefix = std::snprintf(buffer, sizeof(buffer), "SA [%04d:%04d]:", static_cast<int>(getpid()),
                               static_cast<int>(syscall(SYS_gettid)));
    if (prefix < 0)
        return;

    // The line itself gets the 4096-character buffer, as on the original
    // platform; the prefix comes on top of it.
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer + prefix, SA_LOG_BUFFER_CHARS, format, args);
    va_end(args);
    if (n < 0)
        return;
    size_t textLength = std::min<size_t>(static_cast<size_t>(n), SA_LOG_BUFFER_CHARS - 1);
    size_t total = static_cast<size_t>(prefix) + textLength;

    // One write per line so that lines of concurrent threads never interleave.
    ssize_t ignored = ::write(STDERR_FILENO, buffer, total);
    (void)ignored;

    SinkTable& t = PrivateSinks();
    if (t.any.load(std::memory_order_acquire))
    {
        std::lock_guard<std::mutex> guard(t.lock);
        std::string_view line(buffer + prefix, textLength);
        for (auto& [id, sink] : t.sinks)
            sink(category, line);
    }
}
