// The simplayer program as a newcomer runs it: the demo's timeline, and one-line errors for
// bad input.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "sim_player.h"

namespace {

struct Outcome {
    DWORD status = 0;
    std::string output;  // standard output and error together
};

Outcome run_simplayer(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    CreatePipe(&read_end, &write_end, &inherit, 0);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    std::wstring command = L"\"" + sim::program_directory() + L"simplayer.exe\" " + arguments;
    PROCESS_INFORMATION process{};
    Outcome run;
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        run.status = 9999;
        return run;
    }
    CloseHandle(write_end);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0)
        run.output.append(buffer, got);
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &run.status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(read_end);
    return run;
}

size_t lines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

}  // namespace

TEST(Simplayer, DemoShowsTheTimeLimitTheLoopAndTheTrackClose) {
    const Outcome run =
        run_simplayer(L"--playlist one.mp3:3000,two.sid:3000:2 --time-limit 300 --loop 400-700");
    EXPECT_EQ(run.status, 0u) << run.output;
    for (const char* expected :
         {"track opened: one.mp3", "command key128", "-> next playlist entry", "command key86",
          "-> next subsong: 2 of 2", "-> no further subsong", "message jump 400",
          "commands per crossing of the time limit: 1, 1, 2 (3 moves)",
          "user: Stop -> the output stops", "commands since the Stop: 0; the player stays stopped",
          "message seconds -> 3", "store write QUARVEL/check_looping = 1", "looping on 400-700 ms",
          "looping armed: ", "track closed", "looping off 0-0 ms", "player closing",
          "get_config -> 0", "free_instance"}) {
        EXPECT_NE(run.output.find(expected), std::string::npos) << expected << "\n" << run.output;
    }
}

TEST(Simplayer, BadInputEndsWithOneLineAndAFailure) {
    const wchar_t* cases[] = {L"--playlist a.mp3",
                              L"--playlist a.mp3:x",
                              L"--playlist \"\"",
                              L"--dll Z:\\nowhere\\missing.dll",
                              L"--time-limit -5",
                              L"--loop 900-100",
                              L"--bogus 1",
                              L"--time-limit",
                              L"--track-events sideways"};
    for (const wchar_t* arguments : cases) {
        const Outcome run = run_simplayer(arguments);
        EXPECT_EQ(run.status, 2u) << sim::narrow(arguments) << ": " << run.output;
        EXPECT_EQ(lines(run.output), 1u) << sim::narrow(arguments) << ": " << run.output;
        EXPECT_EQ(run.output.rfind("simplayer: ", 0), 0u) << run.output;
    }
}
