// For the test kit runner's own tests: a program that never ends by itself, and starts one more
// like it (its child, which does not start another).
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char**) {
    if (argc < 2) {
        wchar_t self[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self, n) + L"\" child";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &child))
            return 3;
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    std::printf(argc < 2 ? "started a child, hanging\n" : "the child, hanging\n");
    std::fflush(stdout);
    Sleep(INFINITE);
}
