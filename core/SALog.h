#pragma once
// The one log function of the viewer. Every line goes to standard error in a
// single write, prefixed with "SA [pid:tid]:", when its category shares a bit
// with the active mask (0x121 unless QUILLMERE_LOG_MASK widens it).
//
// Categories: 0x1 failures, 0x2 rendering and frame traces, 0x4 decoder
// submission, 0x8 pointer, 0x10 discovery and name resolution, 0x20 state
// machine, 0x40 input, 0x80 registry detail, 0x100 codec enumeration and NAL
// trace, 0x200 audio, 0x400 thread and device start and stop.
//
// Thread-safe; callable from any thread.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

constexpr uint32_t SA_LOG_FAILURE = 0x1;
constexpr uint32_t SA_LOG_RENDER = 0x2;
constexpr uint32_t SA_LOG_DECODER = 0x4;
constexpr uint32_t SA_LOG_POINTER = 0x8;
constexpr uint32_t SA_LOG_DISCOVERY = 0x10;
constexpr uint32_t SA_LOG_FSTM = 0x20;
constexpr uint32_t SA_LOG_INPUT = 0x40;
constexpr uint32_t SA_LOG_REGISTRY = 0x80;
constexpr uint32_t SA_LOG_CODEC = 0x100;
constexpr uint32_t SA_LOG_AUDIO = 0x200;
constexpr uint32_t SA_LOG_THREAD = 0x400;
constexpr uint32_t SA_LOG_ALWAYS = 0xFFFFFFFF;

constexpr uint32_t SA_LOG_MASK_DEFAULT = 0x121;
constexpr size_t SA_LOG_BUFFER_CHARS = 4096;

// printf-style; the text is UTF-8. A line longer than the buffer is cut.
void SALog(uint32_t category, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Active mask: 0x121 OR the hex value of QUILLMERE_LOG_MASK (read once).
uint32_t SALogMaskGet();
// Replaces the active mask (tests, tools).
void SALogMaskSet(uint32_t mask);

// A sink sees every line that passes the mask, without the prefix, after it
// was written to standard error. Used by tests to assert on log lines.
using SALogSink = std::function<void(uint32_t category, std::string_view line)>;
// Returns an id for SALogSinkRemove.
int SALogSinkAdd(SALogSink sink);
void SALogSinkRemove(int id);
