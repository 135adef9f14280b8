// The Windows test kit's runner: runs every test program beside it and the latency benchmark, each
// within a time limit, and writes what they said into report.txt beside it. Runs on every Windows
// from XP SP3 on, from any folder, without installing anything or administrator rights; writes
// only inside its own folder (the programs' output and temporary files go to subfolders of it).
//   run-tests.exe [--limit SECONDS] [--quick] [--jobs-refused]
// SECONDS is each program's limit (300 by default); --quick has the benchmark take a tenth of its
// samples (a check that it runs, not a measurement).
// --jobs-refused plays a system that refuses to put the programs into the runner's job, as
// Windows 7 and XP do when the runner is itself in one (for testing the runner).
// Exit status 0 when every program passed; 1 when one failed, hung or could not start; 2 when
// the kit's folder cannot be written.
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring folder;        // the runner's own, with a trailing backslash
bool jobs_refused = false;  // --jobs-refused

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());  // the kit's own names are ASCII
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
    const UINT code_page = GetConsoleOutputCP() ? GetConsoleOutputCP() : CP_ACP;
    const int size = WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                            size, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // ASCII
}

// "error N, the system's words for it"
std::string error_text(DWORD error) {
    char words[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   words, sizeof words, nullptr);
    std::string said = words;
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' '))
        said.pop_back();
    return "error " + std::to_string(error) + (said.empty() ? "" : ", " + said);
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

struct Run {
    std::wstring program;
    bool ran = false;               // it started
    std::string result = "failed";  // "passed", "failed", "hung", "could not start: ..." or
                                    // "no output file: ..."
    DWORD exit_code = 0, took_ms = 0;
    std::vector<std::string> output;
};

ULONGLONG created(HANDLE process) {
    FILETIME times[4];
    if (!GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3])) return 0;
    return (static_cast<ULONGLONG>(times[0].dwHighDateTime) << 32) | times[0].dwLowDateTime;
}

// Stops a program that is outside the runner's job, and every process it started (and they in
// turn): found by their parent, and made after it, so that a number the system gave again to
// another process is not mistaken for one of them.
void stop_with_descendants(const PROCESS_INFORMATION& process) {
    std::vector<std::pair<DWORD, ULONGLONG>> tree{{process.dwProcessId, created(process.hProcess)}};
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    for (size_t i = 0; snapshot.h && i < tree.size(); ++i) {
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.h, &entry); more;
             more = Process32NextW(snapshot.h, &entry)) {
            if (entry.th32ParentProcessID != tree[i].first || entry.th32ProcessID == 0) continue;
            Handle child(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE,
                                     entry.th32ProcessID));
            const ULONGLONG born = child.h ? created(child.h) : 0;
            if (born >= tree[i].second && tree.size() < 256)
                tree.emplace_back(entry.th32ProcessID, born);
        }
    }
    TerminateProcess(process.hProcess, 1);
    for (size_t i = 1; i < tree.size(); ++i) {
        Handle child(OpenProcess(PROCESS_TERMINATE, FALSE, tree[i].first));
        if (child.h) TerminateProcess(child.h, 1);
    }
}

// A job that ends every process in it once the runner lets go of it.
HANDLE make_job() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

// Runs one program in the kit's folder, its output into output\NAME.txt. It passes only when it
// started, ended by itself within `limit_ms`, with exit status 0, and said so. Once the limit has
// passed it is stopped with every process it started; a program that ends leaves none behind.
Run run(const std::wstring& program, DWORD limit_ms, bool says_passed,
        const wchar_t* arguments = L"") {
    Run r;
    r.program = program;
    const std::wstring output = folder + L"output\\" + program + L".txt";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    Handle out(CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.h) {
        r.result = "no output file: output\\" + narrow(program) + ".txt could not be made (" +
                   error_text(GetLastError()) + ")";
        return r;
    }
    Handle in(CreateFileW(L"NUL", GENERIC_READ, 0, &inherited, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.h;
    startup.hStdOutput = startup.hStdError = out.h;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + folder + program + L"\" " + arguments;
    // The program leaves a job the runner is in where that job lets it (a CI agent's, a task's,
    // a debugger's), to join the runner's own; where it may not (Windows 7 and XP then refuse
    // the runner's job too), it is stopped with its children by itself.
    Handle job(make_job());
    const DWORD began = GetTickCount();
    const auto start = [&](DWORD flags) {
        return CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE,
                              CREATE_SUSPENDED | flags, nullptr, folder.c_str(), &startup,
                              &process) != 0;
    };
    if (!start(CREATE_BREAKAWAY_FROM_JOB) && (GetLastError() != ERROR_ACCESS_DENIED || !start(0))) {
        r.result = "could not start: " + error_text(GetLastError());
        r.took_ms = GetTickCount() - began;
        return r;
    }
    r.ran = true;
    const bool in_job = job.h && !jobs_refused && AssignProcessToJobObject(job.h, process.hProcess);
    ResumeThread(process.hThread);
    if (WaitForSingleObject(process.hProcess, limit_ms) == WAIT_TIMEOUT) {
        r.result = "hung";
        if (!in_job || !TerminateJobObject(job.h, 1)) stop_with_descendants(process);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &r.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    r.took_ms = GetTickCount() - began;
    CloseHandle(out.h);
    out.h = nullptr;
    r.output = lines_of(output);
    bool said_passed = !says_passed;
    for (const std::string& line : r.output) said_passed |= begins(line, "[  PASSED  ] ");
    if (r.result != "hung" && r.exit_code == 0 && !r.output.empty() && said_passed)
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
    FILE* report = _wfopen((folder + L"report.txt").c_str(), L"w");  // text: CR LF line ends
    DWORD error = report ? ERROR_SUCCESS : GetLastError();
    const DWORD output_folder = GetFileAttributesW((folder + L"output").c_str());
    if (report &&
        (output_folder == INVALID_FILE_ATTRIBUTES || !(output_folder & FILE_ATTRIBUTE_DIRECTORY)))
        error = output_folder == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    if (error != ERROR_SUCCESS) {
        const std::string why = error_text(error);
        say(L"run-tests: cannot write into " + folder + L" (" + widen(why) +
            L"): unzip the kit into a folder you can write to, such as one in your Documents, "
            L"and run it there");
        if (report) {
            std::fclose(report);
            DeleteFileW((folder + L"report.txt").c_str());
        }
        return 2;
    }
    SetEnvironmentVariableW(L"TEMP", (folder + L"temp").c_str());
    SetEnvironmentVariableW(L"TMP", (folder + L"temp").c_str());
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // a crash ends, not asks

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const DWORD began = GetTickCount();
    std::vector<Run> runs;
    for (const std::wstring& program : test_programs()) {
        std::printf("run-tests: %s ...\n", narrow(program).c_str());
        runs.push_back(run(program, limit_s * 1000, true));
        std::printf("run-tests: %s %s in %.1f s\n", narrow(program).c_str(),
                    runs.back().result.c_str(), runs.back().took_ms / 1000.0);
    }
    std::printf("run-tests: latency_bench.exe ...\n");
    const Run bench = run(L"latency_bench.exe", limit_s * 1000, false, quick ? L"--quick" : L"");
    const DWORD took_ms = GetTickCount() - began;

    int passed = 0;
    for (const Run& r : runs) passed += r.result == "passed";
    const bool all =
        passed == static_cast<int>(runs.size()) && !runs.empty() && bench.result == "passed";
    std::fprintf(report, "xmp-quarvel 1.4 test kit report\n\n");
    std::fprintf(report, "system: %s\n", windows_version().c_str());
    std::fprintf(report, "cores: %lu\n", system.dwNumberOfProcessors);
    std::fprintf(report, "total time: %.1f s\n", took_ms / 1000.0);
    std::fprintf(report, "result: %d of %zu test programs passed, benchmark %s: %s\n\n", passed,
                 runs.size(), bench.result.c_str(), all ? "ALL PASSED" : "SOMETHING FAILED");
    for (const Run& r : runs) {
        if (r.ran)
            std::fprintf(report, "%-28s %-6s %6.1f s  (exit status %lu)\n",
                         narrow(r.program).c_str(), r.result.c_str(), r.took_ms / 1000.0,
                         r.exit_code);
        else
            std::fprintf(report, "%-28s %s\n", narrow(r.program).c_str(), r.result.c_str());
        std::vector<std::string> said = failures(r.output);
        if (said.empty() && r.result != "passed") {  // its last words
            said.assign(r.output.end() - std::min<size_t>(r.output.size(), 15), r.output.end());
        }
        for (const std::string& line : said) std::fprintf(report, "    %s\n", line.c_str());
    }
    std::fprintf(report, "\nbenchmark (latency_bench.exe%s): %s in %.1f s\n",
                 quick ? " --quick, a tenth of the samples" : "", bench.result.c_str(),
                 bench.took_ms / 1000.0);
    for (const std::string& line : bench.output) std::fprintf(report, "    %s\n", line.c_str());
    const bool written = std::fflush(report) == 0 && !std::ferror(report);
    std::fclose(report);
    if (!written) {
        say(L"run-tests: report.txt in " + folder + L" could not be written whole (a full disk?)");
        return 2;
    }
    say(std::wstring(L"run-tests: ") +
        (all ? L"every program passed" : L"something failed, hung or did not start") +
        L"; the report is " + folder + L"report.txt");
    return all ? 0 : 1;
}
