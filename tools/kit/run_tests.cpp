// The Windows test kit's runner: runs every test program beside it and the latency benchmark, each
// within a time limit, and writes what they said into report.txt beside it. Runs on every Windows
// from XP SP3 on, from any folder, without installing anything or administrator rights; writes
// only inside its own folder (the programs' output and temporary files go to subfolders of it).
//   run-tests.exe [--limit SECONDS] [--quick]
// SECONDS is each program's limit (300 by default); --quick has the benchmark take a tenth of its
// samples (a check that it runs, not a measurement).
// Exit status 0 when every program passed, 1 when one failed or hung.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring folder;  // the runner's own, with a trailing backslash

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());  // the kit's names are ASCII
}

// The lines a program wrote (its output file), without line ends.
std::vector<std::string> lines_of(const std::wstring& path) {
    std::vector<std::string> lines;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return lines;
    std::string line;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    std::fclose(file);
    return lines;
}

bool begins(const std::string& text, const char* with) {
    return text.compare(0, std::strlen(with), with) == 0;
}

struct Run {
    std::wstring program;
    const char* result = "failed";  // "passed", "failed" or "hung"
    DWORD exit_code = 0, took_ms = 0;
    std::vector<std::string> output;
};

// Runs one program in the kit's folder, its output into output\NAME.txt, and stops it and every
// process it started once `limit_ms` have passed.
Run run(const std::wstring& program, DWORD limit_ms, const wchar_t* arguments = L"") {
    Run r;
    r.program = program;
    const std::wstring output = folder + L"output\\" + program + L".txt";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = startup.hStdError = out;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + folder + program + L"\" " + arguments;
    // A job ends the program's own children with it (nested jobs fail before Windows 8 when the
    // runner is itself in one: then the program alone is stopped).
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    const DWORD began = GetTickCount();
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        folder.c_str(), &startup, &process)) {
        r.output.push_back("cannot start it (error " + std::to_string(GetLastError()) + ")");
    } else {
        if (job) AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
        if (WaitForSingleObject(process.hProcess, limit_ms) == WAIT_TIMEOUT) {
            r.result = "hung";
            if (!job || !TerminateJobObject(job, 1)) TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
        }
        GetExitCodeProcess(process.hProcess, &r.exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    r.took_ms = GetTickCount() - began;
    if (job) CloseHandle(job);
    CloseHandle(in);
    CloseHandle(out);
    const std::vector<std::string> written = lines_of(output);
    r.output.insert(r.output.end(), written.begin(), written.end());
    if (std::string(r.result) != "hung" && r.exit_code == 0 && !r.output.empty())
        r.result = "passed";
    return r;
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
                  narrow(info.szCSDVersion).c_str(),
                  info.wProductType == VER_NT_WORKSTATION ? "workstation" : "server");
    std::string version = text;
    using WineVersionFn = const char*(CDECL*)();
    if (const auto wine = reinterpret_cast<WineVersionFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"))))
        version += std::string(", under Wine ") + wine();
    return version;
}

std::vector<std::wstring> test_programs() {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*_test.exe").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do found.push_back(entry.cFileName);
    while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    DWORD limit_s = 300;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--quick") quick = true;
        if (std::string(argv[i]) == "--limit" && i + 1 < argc)
            limit_s = std::strtoul(argv[++i], nullptr, 10);
    }
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    folder.assign(path, n);
    folder.erase(folder.find_last_of(L'\\') + 1);
    CreateDirectoryW((folder + L"output").c_str(), nullptr);
    CreateDirectoryW((folder + L"temp").c_str(), nullptr);
    SetEnvironmentVariableW(L"TEMP", (folder + L"temp").c_str());
    SetEnvironmentVariableW(L"TMP", (folder + L"temp").c_str());
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // a crash ends, not asks

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const DWORD began = GetTickCount();
    std::vector<Run> runs;
    for (const std::wstring& program : test_programs()) {
        std::printf("run-tests: %s ...\n", narrow(program).c_str());
        runs.push_back(run(program, limit_s * 1000));
        std::printf("run-tests: %s %s in %.1f s\n", narrow(program).c_str(), runs.back().result,
                    runs.back().took_ms / 1000.0);
    }
    std::printf("run-tests: latency_bench.exe ...\n");
    const Run bench = run(L"latency_bench.exe", limit_s * 1000, quick ? L"--quick" : L"");
    const DWORD took_ms = GetTickCount() - began;

    int passed = 0;
    for (const Run& r : runs) passed += std::string(r.result) == "passed";
    const bool all = passed == static_cast<int>(runs.size()) && !runs.empty() &&
                     std::string(bench.result) == "passed";
    FILE* report = _wfopen((folder + L"report.txt").c_str(), L"w");  // text: CR LF line ends
    if (!report) {
        std::printf("run-tests: cannot write report.txt in %s\n", narrow(folder).c_str());
        return 1;
    }
    std::fprintf(report, "xmp-quarvel 1.4 test kit report\n\n");
    std::fprintf(report, "system: %s\n", windows_version().c_str());
    std::fprintf(report, "cores: %lu\n", system.dwNumberOfProcessors);
    std::fprintf(report, "total time: %.1f s\n", took_ms / 1000.0);
    std::fprintf(report, "result: %d of %zu test programs passed, benchmark %s: %s\n\n", passed,
                 runs.size(), bench.result, all ? "ALL PASSED" : "SOMETHING FAILED");
    for (const Run& r : runs) {
        std::fprintf(report, "%-28s %-6s %6.1f s  (exit status %lu)\n", narrow(r.program).c_str(),
                     r.result, r.took_ms / 1000.0, r.exit_code);
        std::vector<std::string> said = failures(r.output);
        if (said.empty() && std::string(r.result) != "passed") {  // its last words
            said.assign(r.output.end() - std::min<size_t>(r.output.size(), 15), r.output.end());
        }
        for (const std::string& line : said) std::fprintf(report, "    %s\n", line.c_str());
    }
    std::fprintf(report, "\nbenchmark (latency_bench.exe%s): %s in %.1f s\n",
                 quick ? " --quick, a tenth of the samples" : "", bench.result,
                 bench.took_ms / 1000.0);
    for (const std::string& line : bench.output) std::fprintf(report, "    %s\n", line.c_str());
    std::fclose(report);
    std::printf("run-tests: %s; the report is %sreport.txt\n",
                all ? "every program passed" : "something failed or hung", narrow(folder).c_str());
    return all ? 0 : 1;
}
