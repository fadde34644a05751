#pragma once
// Exception codes of the original platform and their names. A fault caught
// inside a job (see PSExceptionGuard) is reported with the code the original
// platform would have raised for it, so that log lines read the same on every
// platform: "EXCEPTION_ACCESS_VIOLATION\n", "EXCEPTION_INT_DIVIDE_BY_ZERO\n".
#include <cstdint>

constexpr uint32_t PS_EXCEPTION_GUARD_PAGE = 0x80000001;
constexpr uint32_t PS_EXCEPTION_DATATYPE_MISALIGNMENT = 0x80000002;
constexpr uint32_t PS_EXCEPTION_BREAKPOINT = 0x80000003;
constexpr uint32_t PS_EXCEPTION_SINGLE_STEP = 0x80000004;
constexpr uint32_t PS_STATUS_UNWIND_CONSOLIDATE = 0x80000029;
constexpr uint32_t PS_EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr uint32_t PS_EXCEPTION_IN_PAGE_ERROR = 0xC0000006; // has no name in the table: logged as unknown
constexpr uint32_t PS_EXCEPTION_INVALID_HANDLE = 0xC0000008;
constexpr uint32_t PS_EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr uint32_t PS_EXCEPTION_NONCONTINUABLE_EXCEPTION = 0xC0000025;
constexpr uint32_t PS_EXCEPTION_INVALID_DISPOSITION = 0xC0000026;
constexpr uint32_t PS_EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr uint32_t PS_EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr uint32_t PS_EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr uint32_t PS_EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
constexpr uint32_t PS_STATUS_FLOAT_INVALID_OPERATION = 0xC0000090;
constexpr uint32_t PS_EXCEPTION_FLT_OVERFLOW = 0xC0000091;
constexpr uint32_t PS_EXCEPTION_FLT_STACK_CHECK = 0xC0000092;
constexpr uint32_t PS_EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
constexpr uint32_t PS_EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr uint32_t PS_EXCEPTION_INT_OVERFLOW = 0xC0000095;
constexpr uint32_t PS_EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
constexpr uint32_t PS_EXCEPTION_STACK_OVERFLOW = 0xC00000FD;

// The name of a code ("EXCEPTION_ACCESS_VIOLATION"), or nullptr for a code
// that is not in the table.
const char* PSExceptionCodeNameGet(uint32_t code);

// Logs the name followed by a newline (category 0x1), or
// "EXCEPTION_XXX %d unknown\n" for a code that is not in the table.
void PSExceptionCodeLog(uint32_t code);
