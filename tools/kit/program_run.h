// Running one program of the test kit (run_tests.cpp runs them all).
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace kit {

// "error N, the system's words for it", in the system's language.
std::wstring error_text(DWORD error);

inline bool begins(const std::string& text, const char* with) {
    return text.compare(0, std::strlen(with), with) == 0;
}

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h) CloseHandle(h);
    }
};

// What one program did.
struct Run {
    std::wstring program;
    bool ran = false;                 // it started
    std::wstring result = L"failed";  // "passed", "failed", "hung", "missing", "could not start:
                                      // ..." or "no output file: ..."
    DWORD exit_code = 0, took_ms = 0;
    int tests = -1;  // the tests a GoogleTest program said passed (-1: it said nothing of them)
    std::vector<std::string> output;
};

// Runs `program` in the kit's `folder` (with a trailing backslash), its output into
// output\NAME.txt. It passes only when it started, ended by itself within `limit_ms` with exit
// status 0, and said so: where `says_passed`, GoogleTest's line that one test at least passed.
// Once the limit has passed it is stopped with every process it started; a program that ends
// leaves none behind. `jobs_refused` plays a system that refuses the runner's job.
Run run(const std::wstring& folder, const std::wstring& program, DWORD limit_ms, bool says_passed,
        bool jobs_refused, const wchar_t* arguments = L"");

}  // namespace kit
