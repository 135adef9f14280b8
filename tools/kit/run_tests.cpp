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
// after windows.h, which it needs
#include <tlhelp32.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

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

// "error N, the system's words for it", in the system's language.
std::wstring error_text(DWORD error) {
    wchar_t words[512] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   words, sizeof words / sizeof words[0], nullptr);
    std::wstring said = words;
    while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' '))
        said.pop_back();
    return L"error " + std::to_wstring(error) + (said.empty() ? L"" : L", " + said);
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
    bool ran = false;                 // it started
    std::wstring result = L"failed";  // "passed", "failed", "hung", "missing", "could not start:
                                      // ..." or "no output file: ..."
    DWORD exit_code = 0, took_ms = 0;
    int tests = -1;  // the tests a GoogleTest program said passed (-1: it said nothing of them)
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
        r.result = L"no output file: output\\" + program + L".txt could not be made (" +
                   error_text(GetLastError()) + L")";
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
    if (GetFileAttributesW((folder + program).c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND) {
        r.result = L"missing";
        return r;
    }
    if (!start(CREATE_BREAKAWAY_FROM_JOB) && (GetLastError() != ERROR_ACCESS_DENIED || !start(0))) {
        r.result = L"could not start: " + error_text(GetLastError());
        r.took_ms = GetTickCount() - began;
        return r;
    }
    r.ran = true;
    const bool in_job = job.h && !jobs_refused && AssignProcessToJobObject(job.h, process.hProcess);
    ResumeThread(process.hThread);
    if (WaitForSingleObject(process.hProcess, limit_ms) == WAIT_TIMEOUT) {
        r.result = L"hung";
        if (!in_job || !TerminateJobObject(job.h, 1)) stop_with_descendants(process);
        WaitForSingleObject(process.hProcess, 5000);
    } else if (!in_job) {
        stop_with_descendants(process);  // what it left running (the job ends that otherwise)
    }
    GetExitCodeProcess(process.hProcess, &r.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    r.took_ms = GetTickCount() - began;
    CloseHandle(out.h);
    out.h = nullptr;
    r.output = lines_of(output);
    for (const std::string& line : r.output)
        if (begins(line, "[  PASSED  ] ")) r.tests = std::atoi(line.c_str() + 13);
    const bool said_passed = says_passed ? r.tests > 0 : true;
    if (r.result != L"hung" && r.exit_code == 0 && !r.output.empty() && said_passed)
        r.result = L"passed";
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
        runs.push_back(run(program, limit_s * 1000, true));
        wchar_t took[32];
        std::swprintf(took, 32, L" in %.1f s", runs.back().took_ms / 1000.0);
        say(L"run-tests: " + program + L" " + runs.back().result + took);
    }
    say(L"run-tests: latency_bench.exe ...");
    const Run bench = run(L"latency_bench.exe", limit_s * 1000, false, quick ? L"--quick" : L"");
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
