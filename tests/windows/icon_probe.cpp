// Reads an exe's icon the way Windows shows it: PrivateExtractIconsW at
// 128x128, then the colour and mask bitmaps through GetIconInfo/GetDIBits.
// Writes 128*128 RGBA to OUT, alpha 0 where the mask is set, else 255.
#include <windows.h>

#include <cstdio>
#include <vector>

static bool readBitmap(HDC dc, HBITMAP bitmap, std::vector<unsigned char>& bgra) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 128;
    info.bmiHeader.biHeight = -128;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bgra.assign(128 * 128 * 4, 0);
    return GetDIBits(dc, bitmap, 0, 128, bgra.data(), &info, DIB_RGB_COLORS) == 128;
}

extern "C" int wmain(int argc, wchar_t* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: icon_probe EXE OUT\n");
        return 2;
    }
    HICON icon = NULL;
    UINT id = 0;
    UINT count = PrivateExtractIconsW(argv[1], 0, 128, 128, &icon, &id, 1, 0);
    if (count != 1 || icon == NULL) {
        std::fprintf(stderr, "PrivateExtractIconsW found %u icons\n", count);
        return 1;
    }
    ICONINFO parts = {};
    if (!GetIconInfo(icon, &parts) || parts.hbmColor == NULL) {
        std::fprintf(stderr, "GetIconInfo failed\n");
        return 1;
    }
    HDC dc = GetDC(NULL);
    std::vector<unsigned char> colour, mask;
    bool read = readBitmap(dc, parts.hbmColor, colour) && readBitmap(dc, parts.hbmMask, mask);
    ReleaseDC(NULL, dc);
    DeleteObject(parts.hbmColor);
    DeleteObject(parts.hbmMask);
    DestroyIcon(icon);
    if (!read) {
        std::fprintf(stderr, "GetDIBits failed\n");
        return 1;
    }
    std::vector<unsigned char> rgba;
    for (size_t i = 0; i < colour.size(); i += 4) {
        rgba.insert(rgba.end(), {colour[i + 2], colour[i + 1], colour[i], static_cast<unsigned char>(mask[i] ? 0 : 255)});
    }
    FILE* out = _wfopen(argv[2], L"wb");
    if (out == NULL || std::fwrite(rgba.data(), 1, rgba.size(), out) != rgba.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot write the pixels\n");
        return 1;
    }
    return 0;
}
