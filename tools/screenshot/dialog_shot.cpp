// Opens the configuration dialog in the simulated player with a track playing and a loop
// section filled in, and saves a picture of it as a BMP file (argument 1).
#include <windows.h>

#include <cstdio>
#include <string>

#include "dialog_driver.h"
#include "resource_ids.h"
#include "sim_player.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_shot OUT.bmp\n");
        return 2;
    }
    sim::Player player;
    player.set_store({{"QUARVEL/check_time_limit", 0},
                      {"QUARVEL/time_limit", 90000},
                      {"QUARVEL/subsong_limit", 1},
                      {"QUARVEL/check_looping", 0},
                      {"QUARVEL/start_loop_time", 0},
                      {"QUARVEL/end_loop_time", 0}});
    player.set_playlist({{"song.mp3", 240000}});
    if (!player.load(sim::program_directory() + L"xmp-quarvel.dll") || !player.bind(1)) return 1;
    player.start_instance();
    player.play(0);
    player.set_position(61500);
    HWND dialog = player.open_config();
    if (!dialog) return 1;
    sim::set_box(dialog, IDC_LOOP_ENABLE, true);
    sim::click(dialog, IDC_SET_START_NOW);
    sim::type(dialog, IDC_LOOP_END, L"94250");
    SetWindowPos(dialog, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(300);

    RECT r;
    GetWindowRect(dialog, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    std::string pixels(stride * static_cast<DWORD>(h), '\0');
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), &pixels[0],
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);

    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    sim::click(dialog, IDCANCEL);
    sim::gone(dialog);
    return 0;
}
