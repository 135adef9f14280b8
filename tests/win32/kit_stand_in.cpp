// For the test kit runner's own tests, a program that plays a test program by its own name:
// hangs_*: never ends by itself, and starts a child that does not; empty_*: a GoogleTest program
// that ran no test; any other: one whose test passed (none where GTEST_FILTER would filter it
// away, as GoogleTest does) and that leaves a child running behind it.
#include <windows.h>

#include <string>

namespace {
void say(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}
}  // namespace

int main(int argc, char**) {
    wchar_t self[MAX_PATH];
    std::wstring command(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    const std::wstring name = command.substr(command.find_last_of(L"\\/") + 1);
    if (argc > 1) Sleep(INFINITE);  // the child
    command = L"\"" + command + L"\" child";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const bool empty = name.rfind(L"empty_", 0) == 0, hangs = name.rfind(L"hangs_", 0) == 0;
    if (!empty && !CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &child))
        return 3;
    if (hangs) {
        say("hanging\n");
        Sleep(INFINITE);
    }
    say(empty || GetEnvironmentVariableW(L"GTEST_FILTER", nullptr, 0) ? "[  PASSED  ] 0 tests.\n"
                                                                      : "[  PASSED  ] 1 test.\n");
    return 0;
}
