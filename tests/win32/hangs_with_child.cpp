// For the test kit runner's own tests: never ends by itself, and starts a child that does not.
#include <windows.h>

#include <string>

int main(int argc, char**) {
    wchar_t self[MAX_PATH];
    std::wstring command(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    command = L"\"" + command + L"\" child";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (argc < 2 && !CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                    nullptr, &startup, &child))
        return 3;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "hanging\n", 8, &written, nullptr);
    Sleep(INFINITE);
}
