/* A small windowed program for the stand-in: a main window with a menu,
 * a bitmap and text, a dialog and a message box. */
#include "winsample.h"

static HINSTANCE g_instance;
static HBITMAP g_logo;
int g_paint_count;

static void DrawLogo(HDC hdc, int x, int y)
{
    HDC mem;
    HGDIOBJ old;
    BITMAP bm;
    if (!g_logo) return;
    mem = CreateCompatibleDC(hdc);
    old = SelectObject(mem, g_logo);
    GetObjectA(g_logo, sizeof bm, &bm);
    BitBlt(hdc, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
}

static void Paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    HFONT font = CreateFontA(-24, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH, "Times New Roman");
    HGDIOBJ old_font = SelectObject(hdc, font);
    RECT band = {10, 60, 210, 70};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    ++g_paint_count;
    DrawLogo(hdc, 10, 10);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, RGB(0, 0, 128));
    TextOutA(hdc, 60, 10, "Sample", 6);
    SelectObject(hdc, old_font);
    DeleteObject(font);
    FillRect(hdc, &band, red);
    DeleteObject(red);
    EndPaint(hwnd, &ps);
}

INT_PTR CALLBACK AboutDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_DETAILS:
            MessageBoxA(hwnd, "The details could not be read.", "Sample", MB_OK | MB_ICONERROR);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(hwnd, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

static void OnCommand(HWND hwnd, int id)
{
    HMENU menu = GetMenu(hwnd);
    switch (id) {
    case IDM_ABOUT:
        DialogBoxParamA(g_instance, "AboutBox", hwnd, AboutDlgProc, 0);
        break;
    case IDM_MESSAGE:
        MessageBoxA(hwnd, "Hello from the sample.", "Sample", MB_OK | MB_ICONERROR);
        break;
    case IDM_CHECKED:
        CheckMenuItem(menu, IDM_CHECKED,
                      (GetMenuState(menu, IDM_CHECKED, MF_BYCOMMAND) & MF_CHECKED) ? MF_UNCHECKED : MF_CHECKED);
        break;
    case IDM_EXIT:
        DestroyWindow(hwnd);
        break;
    }
}

LRESULT CALLBACK SampleWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        return 0;
    case WM_DESTROY:
        if (g_logo) DeleteObject(g_logo);
        g_logo = NULL;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    WNDCLASSA wc;
    MSG msg;
    HWND hwnd;
    (void)lpCmdLine;
    g_instance = hInstance;
    g_paint_count = 0;
    if (!hPrevInstance) {
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        wc.lpfnWndProc = SampleWndProc;
        wc.cbClsExtra = 0;
        wc.cbWndExtra = 0;
        wc.hInstance = hInstance;
        wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCE(IDI_SAMPLE));
        wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
        wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        wc.lpszMenuName = "MainMenu";
        wc.lpszClassName = "SampleClass";
        if (!RegisterClassA(&wc)) return 0;
    }
    g_logo = LoadBitmapA(hInstance, "Logo");
    hwnd = CreateWindowExA(0, "SampleClass", "Sample", WS_OVERLAPPEDWINDOW, 40, 40, 400, 240, NULL, NULL, hInstance,
                           NULL);
    if (!hwnd) return 0;
    ShowWindow(hwnd, nCmdShow);
    UpdateWindow(hwnd);
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
