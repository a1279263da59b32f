/* Identifiers shared by the sample's resources and code. */
#ifndef WINSAMPLE_H
#define WINSAMPLE_H

#define IDI_SAMPLE 101
#define IDM_ABOUT 100
#define IDM_MESSAGE 101
#define IDM_EXIT 102
#define IDM_CHECKED 110
#define IDM_GREYED 111
#define IDC_DISABLED 200
#define IDC_DETAILS 201
#define IDC_STATUS 202
#define IDC_NAME 203
#define IDC_LIST 204
#define IDC_VERBOSE 205
#define IDC_FAST 206
#define IDC_SLOW 207
#define IDC_MANUAL 208

#ifndef RC_INVOKED
#include <windows.h>
#ifdef __cplusplus
extern "C" {
#endif
LRESULT CALLBACK SampleWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
/* What the sample's window shows, for checks without a screen. */
extern int g_paint_count;
#ifdef __cplusplus
}
#endif
#endif

#endif
