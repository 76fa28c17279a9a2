// Lists the visible top-level windows with a given caption and their child
// controls, for the desktop test: what a box holds (buttons, text, owning
// process) read through the Windows API, next to what the screen shows.
// Lines, UTF-8, the text last on its line so it may hold any character:
//   window pid=PID rect=L,T,R,B client=L,T,R,B
//   child class=CLASS visible=0|1 rect=L,T,R,B text=TEXT
// Rectangles are screen coordinates, which are the X display's when Wine
// draws without a window manager.
#include <windows.h>

#include <cstdio>
#include <string>

static std::string utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(size > 0 ? size - 1 : 0);
    return out;
}

static std::wstring windowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(length + 1, L'\0');
    length = GetWindowTextW(window, &text[0], length + 1);
    text.resize(length > 0 ? length : 0);
    return text;
}

static void printRect(const char* name, RECT rect) {
    std::printf(" %s=%ld,%ld,%ld,%ld", name, rect.left, rect.top, rect.right, rect.bottom);
}

static BOOL CALLBACK printChild(HWND child, LPARAM) {
    wchar_t className[256] = L"";
    GetClassNameW(child, className, 256);
    RECT rect;
    GetWindowRect(child, &rect);
    std::printf("child class=%s visible=%d", utf8(className).c_str(), IsWindowVisible(child) ? 1 : 0);
    printRect("rect", rect);
    std::printf(" text=%s\n", utf8(windowText(child)).c_str());
    return TRUE;
}

static BOOL CALLBACK printWindow(HWND window, LPARAM caption) {
    if (!IsWindowVisible(window) || windowText(window) != *reinterpret_cast<std::wstring*>(caption)) {
        return TRUE;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT rect;
    RECT client;
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    POINT topLeft = {client.left, client.top};
    POINT bottomRight = {client.right, client.bottom};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);
    std::printf("window pid=%lu", static_cast<unsigned long>(pid));
    printRect("rect", rect);
    printRect("client", RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y});
    std::printf("\n");
    EnumChildWindows(window, printChild, 0);
    return TRUE;
}

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_probe CAPTION\n");
        return 2;
    }
    std::string narrow = argv[1];
    std::wstring caption(narrow.begin(), narrow.end());  // captions asked for are ASCII
    EnumWindows(printWindow, reinterpret_cast<LPARAM>(&caption));
    std::fflush(stdout);
    return 0;
}
