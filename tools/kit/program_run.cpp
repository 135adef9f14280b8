// Running one program of the test kit within its time limit and a job of its own.
#include "program_run.h"

// after windows.h, which it needs
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace kit {

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

namespace {

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

}  // namespace

Run run(const std::wstring& folder, const std::wstring& program, DWORD limit_ms, bool says_passed,
        bool jobs_refused, const wchar_t* arguments) {
    Run r;
    r.program = program;
    if (GetFileAttributesW((folder + program).c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND) {
        r.result = L"missing";
        return r;
    }
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
    if (!start(CREATE_BREAKAWAY_FROM_JOB) && (GetLastError() != ERROR_ACCESS_DENIED || !start(0))) {
        r.result = L"could not start: " + error_text(GetLastError());
        r.took_ms = GetTickCount() - began;
        return r;
    }
    r.ran = true;
    const Handle owned_thread(process.hThread), owned_process(process.hProcess);
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

}  // namespace kit
