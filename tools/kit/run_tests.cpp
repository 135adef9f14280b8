// The Windows test kit's runner: runs every test program it was packed with (QUARVEL_KIT_TESTS,
// from the build; one that is absent counts as missing), any other *_test.exe beside it and the
// latency benchmark, each within a time limit, and writes what they said into report.txt beside
// it (UTF-8). Runs on every Windows from XP SP3 on, from any folder, without installing anything
// or administrator rights; writes only inside its own folder (the programs' output and temporary
// files go to subfolders of it). The programs get no GTEST_ variable of the runner's
// environment: each runs all its tests, and a test program passes only where it ran one at least.
//   run-tests.exe [--limit SECONDS] [--quick] [--jobs-refused]
// SECONDS is each program's limit (300 by default); --quick has the benchmark take a tenth of its
// samples (a check that it runs, not a measurement).
// --jobs-refused plays a system that refuses to put the programs into the runner's job, as
// Windows 7 and XP do when the runner is itself in one (for testing the runner).
// Exit status 0 when every program passed; 1 when one failed, hung, could not start or is missing;
// 2 when the kit's folder cannot be written.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "program_run.h"

using kit::begins;
using kit::error_text;
using kit::Handle;
using kit::Run;

namespace {

std::wstring folder;        // the runner's own, with a trailing backslash
bool jobs_refused = false;  // --jobs-refused

// Text in a code page's bytes.
std::string encoded(const std::wstring& text, UINT code_page) {
    const int size = WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                            size, nullptr, nullptr);
    return bytes;
}

// Text for the report, whatever letters it holds.
std::string utf8(const std::wstring& text) {
    return encoded(text, CP_UTF8);
}

// A line on the console as the console shows it, whatever the folder's name holds: wide where
// the output is a console, else in the console's (or the system's) code page.
void say(const std::wstring& line) {
    const std::wstring text = line + L"\r\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0, mode = 0;
    std::fflush(stdout);
    if (GetConsoleMode(out, &mode) &&
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr))
        return;
    const std::string bytes = encoded(text, GetConsoleOutputCP() ? GetConsoleOutputCP() : CP_ACP);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// What a GoogleTest program's failing tests said: each failed test's lines from its start.
std::vector<std::string> failures(const std::vector<std::string>& output) {
    std::vector<std::string> said;
    size_t test_began = 0;
    for (size_t i = 0; i < output.size(); ++i) {
        if (begins(output[i], "[ RUN      ] ")) test_began = i;
        if (!begins(output[i], "[  FAILED  ] ") || output[i].find(" (") == std::string::npos ||
            i < test_began || !begins(output[test_began], "[ RUN      ] "))
            continue;
        for (size_t j = test_began; j <= i && j < test_began + 40; ++j) said.push_back(output[j]);
        test_began = i + 1;
    }
    return said;
}

// The Windows this runs on, as the system itself tells it (RtlGetVersion is not subject to the
// compatibility shims that GetVersionEx answers through), and under Wine, Wine's version.
std::string windows_version() {
    RTL_OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    using GetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW*);
    const auto get = reinterpret_cast<GetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (!get || get(&info) != 0) return "unknown";
    char text[256];
    std::snprintf(text, sizeof text, "Windows %lu.%lu, build %lu%s%s (%s)", info.dwMajorVersion,
                  info.dwMinorVersion, info.dwBuildNumber, info.szCSDVersion[0] ? ", " : "",
                  utf8(info.szCSDVersion).c_str(),
                  info.wProductType == VER_NT_WORKSTATION ? "workstation" : "server");
    std::string version = text;
    using WineVersionFn = const char*(CDECL*)();
    if (const auto wine = reinterpret_cast<WineVersionFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"))))
        version += std::string(", under Wine ") + wine();
    return version;
}

// The test programs the kit was packed with (each whether beside the runner or not), then any
// other *_test.exe beside it.
std::vector<std::wstring> test_programs() {
    std::vector<std::wstring> programs;
    const std::string packed = QUARVEL_KIT_TESTS;  // "name,name,..."
    for (size_t at = 0; at < packed.size();) {
        const size_t end = std::min(packed.find(',', at), packed.size());
        programs.push_back(std::wstring(packed.begin() + at, packed.begin() + end) + L".exe");
        at = end + 1;
    }
    std::vector<std::wstring> others;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*_test.exe").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do
            if (std::find(programs.begin(), programs.end(), entry.cFileName) == programs.end())
                others.push_back(entry.cFileName);
        while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    std::sort(others.begin(), others.end());
    programs.insert(programs.end(), others.begin(), others.end());
    return programs;
}

// The report, written whole at the end into report.txt, which was opened at the start (and
// which no program inherits).
struct Report {
    std::string text = "\xEF\xBB\xBF";  // UTF-8, marked so for Notepad
    void line(const char* format, ...) {
        char buffer[1024];
        va_list values;
        va_start(values, format);
        const int n = std::vsnprintf(buffer, sizeof buffer, format, values);
        va_end(values);
        text.append(buffer,
                    n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
        text += "\r\n";
    }
};

// Lets the programs run every test: no GTEST_ variable (a filter, a shard, a repeat) reaches them.
void clear_googletest_settings() {
    std::vector<std::wstring> names;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
            const std::wstring variable = entry;
            if (_wcsnicmp(entry, L"GTEST_", 6) == 0)
                names.push_back(variable.substr(0, variable.find(L'=')));
        }
        FreeEnvironmentStringsW(block);
    }
    for (const std::wstring& name : names) SetEnvironmentVariableW(name.c_str(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    DWORD limit_s = 300;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--quick") quick = true;
        if (std::string(argv[i]) == "--jobs-refused") jobs_refused = true;
        if (std::string(argv[i]) == "--limit" && i + 1 < argc)
            limit_s = std::strtoul(argv[++i], nullptr, 10);
    }
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    folder.assign(path, n);
    folder.erase(folder.find_last_of(L'\\') + 1);
    // Nothing runs unless the kit's folder can be written: the report goes there.
    CreateDirectoryW((folder + L"output").c_str(), nullptr);
    CreateDirectoryW((folder + L"temp").c_str(), nullptr);
    const std::wstring report_path = folder + L"report.txt";
    Handle report(CreateFileW(report_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = report.h ? ERROR_SUCCESS : GetLastError();
    const DWORD output_folder = GetFileAttributesW((folder + L"output").c_str());
    if (report.h &&
        (output_folder == INVALID_FILE_ATTRIBUTES || !(output_folder & FILE_ATTRIBUTE_DIRECTORY)))
        error = output_folder == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    if (error != ERROR_SUCCESS) {
        say(L"run-tests: cannot write into " + folder + L" (" + error_text(error) +
            L"): unzip the kit into a folder you can write to, such as one in your Documents, "
            L"and run it there");
        if (report.h) {
            CloseHandle(report.h);
            report.h = nullptr;
            DeleteFileW(report_path.c_str());
        }
        return 2;
    }
    SetEnvironmentVariableW(L"TEMP", (folder + L"temp").c_str());
    SetEnvironmentVariableW(L"TMP", (folder + L"temp").c_str());
    clear_googletest_settings();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // a crash ends, not asks

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const DWORD began = GetTickCount();
    std::vector<Run> runs;
    for (const std::wstring& program : test_programs()) {
        say(L"run-tests: " + program + L" ...");
        runs.push_back(kit::run(folder, program, limit_s * 1000, true, jobs_refused));
        wchar_t took[32];
        std::swprintf(took, 32, L" in %.1f s", runs.back().took_ms / 1000.0);
        say(L"run-tests: " + program + L" " + runs.back().result + took);
    }
    say(L"run-tests: latency_bench.exe ...");
    const Run bench = kit::run(folder, L"latency_bench.exe", limit_s * 1000, false, jobs_refused,
                               quick ? L"--quick" : L"");
    const DWORD took_ms = GetTickCount() - began;

    int passed = 0, missing = 0;
    for (const Run& r : runs) passed += r.result == L"passed", missing += r.result == L"missing";
    const bool all =
        passed == static_cast<int>(runs.size()) && !runs.empty() && bench.result == L"passed";
    Report out;
    out.line("xmp-quarvel 1.4 test kit report");
    out.line("");
    out.line("system: %s", windows_version().c_str());
    out.line("cores: %lu", system.dwNumberOfProcessors);
    out.line("total time: %.1f s", took_ms / 1000.0);
    out.line("result: %d of %zu test programs passed%s, benchmark %s: %s", passed, runs.size(),
             missing ? (" (" + std::to_string(missing) + " missing)").c_str() : "",
             utf8(bench.result).c_str(), all ? "ALL PASSED" : "SOMETHING FAILED");
    out.line("");
    for (const Run& r : runs) {
        const std::string name = utf8(r.program), result = utf8(r.result);
        if (r.ran && r.tests >= 0)
            out.line("%-28s %-6s %6.1f s  (exit status %lu, %d test%s)", name.c_str(),
                     result.c_str(), r.took_ms / 1000.0, r.exit_code, r.tests,
                     r.tests == 1 ? "" : "s");
        else if (r.ran)
            out.line("%-28s %-6s %6.1f s  (exit status %lu, no test said it passed)", name.c_str(),
                     result.c_str(), r.took_ms / 1000.0, r.exit_code);
        else
            out.line("%-28s %s", name.c_str(), result.c_str());
        std::vector<std::string> said = failures(r.output);
        if (said.empty() && r.result != L"passed") {  // its last words
            said.assign(r.output.end() - std::min<size_t>(r.output.size(), 15), r.output.end());
        }
        for (const std::string& line : said) out.line("    %s", line.c_str());
    }
    out.line("");
    out.line("benchmark (latency_bench.exe%s): %s in %.1f s",
             quick ? " --quick, a tenth of the samples" : "", utf8(bench.result).c_str(),
             bench.took_ms / 1000.0);
    for (const std::string& line : bench.output) out.line("    %s", line.c_str());
    DWORD written = 0;
    if (!WriteFile(report.h, out.text.data(), static_cast<DWORD>(out.text.size()), &written,
                   nullptr) ||
        written != out.text.size()) {
        say(L"run-tests: report.txt in " + folder + L" could not be written whole (a full disk?)");
        return 2;
    }
    say(std::wstring(L"run-tests: ") +
        (all ? L"every program passed" : L"something failed, hung, did not start or is missing") +
        L"; the report is " + report_path);
    return all ? 0 : 1;
}
