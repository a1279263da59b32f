/* The Win32 subset the windowed programs use: user32, gdi32 and the few
 * kernel32 calls around them. Names, types and values are Windows'; on this
 * host the calling-convention words are empty and LRESULT, WPARAM and LPARAM
 * are pointer-sized as on Win64. Shares the basic types with ntdef.h. */
#ifndef NT_INCLUDE_WINDOWS_H
#define NT_INCLUDE_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#include "ntdef.h"

#ifdef __cplusplus
extern "C" {
#endif

#define WINAPI
#define CALLBACK
#define WINAPIV
#define APIENTRY
#define CONST const

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int DWORD; /* 32 bits on every build, like ULONG */
typedef int INT;
typedef unsigned int UINT;
typedef float FLOAT;
typedef WORD ATOM;
typedef DWORD COLORREF;
typedef BOOL* LPBOOL;
typedef BYTE* LPBYTE;
typedef WORD* LPWORD;
typedef DWORD* LPDWORD;
typedef int* LPINT;
typedef LONG* LPLONG;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void* HANDLE;

#define QZR_DECLARE_HANDLE(name) \
  struct name##__ {              \
    int unused;                  \
  };                             \
  typedef struct name##__* name
QZR_DECLARE_HANDLE(HWND);
QZR_DECLARE_HANDLE(HINSTANCE);
QZR_DECLARE_HANDLE(HMENU);
QZR_DECLARE_HANDLE(HICON);
QZR_DECLARE_HANDLE(HDC);
QZR_DECLARE_HANDLE(HBITMAP);
QZR_DECLARE_HANDLE(HBRUSH);
QZR_DECLARE_HANDLE(HPEN);
QZR_DECLARE_HANDLE(HFONT);
QZR_DECLARE_HANDLE(HRGN);
QZR_DECLARE_HANDLE(HRSRC);
#undef QZR_DECLARE_HANDLE
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;
typedef HANDLE HGDIOBJ;
typedef HANDLE HGLOBAL;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define MAKEWORD(a, b) ((WORD)(((BYTE)((DWORD_PTR)(a) & 0xff)) | ((WORD)((BYTE)((DWORD_PTR)(b) & 0xff))) << 8))
#define MAKELONG(a, b) ((LONG)(((WORD)((DWORD_PTR)(a) & 0xffff)) | ((DWORD)((WORD)((DWORD_PTR)(b) & 0xffff))) << 16))
#define LOWORD(l) ((WORD)((DWORD_PTR)(l) & 0xffff))
#define HIWORD(l) ((WORD)((DWORD_PTR)(l) >> 16 & 0xffff))
#define LOBYTE(w) ((BYTE)((DWORD_PTR)(w) & 0xff))
#define HIBYTE(w) ((BYTE)((DWORD_PTR)(w) >> 8 & 0xff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define GET_X_LPARAM(lp) ((int)(short)LOWORD(lp))
#define GET_Y_LPARAM(lp) ((int)(short)HIWORD(lp))
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) (LOBYTE(c))
#define GetGValue(c) (LOBYTE(((WORD)(c)) >> 8))
#define GetBValue(c) (LOBYTE((c) >> 16))

#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define MAKEINTATOM(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *PPOINT, *LPPOINT;
typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *PSIZE, *LPSIZE;
typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA, *PWNDCLASSA, *LPWNDCLASSA;
typedef WNDCLASSA WNDCLASS;

typedef struct tagCREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *PMSG, *LPMSG;

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *PPAINTSTRUCT, *LPPAINTSTRUCT;

typedef struct tagWINDOWPOS {
  HWND hwnd;
  HWND hwndInsertAfter;
  int x;
  int y;
  int cx;
  int cy;
  UINT flags;
} WINDOWPOS, *LPWINDOWPOS;

typedef struct tagMINMAXINFO {
  POINT ptReserved;
  POINT ptMaxSize;
  POINT ptMaxPosition;
  POINT ptMinTrackSize;
  POINT ptMaxTrackSize;
} MINMAXINFO, *LPMINMAXINFO;

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

typedef struct tagTEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
} TEXTMETRICA, *LPTEXTMETRICA;

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;
NT_STATIC_ASSERT(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

/* Window styles. */
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_MINIMIZE 0x20000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_MAXIMIZE 0x01000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW \
  (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_POPUPWINDOW (WS_POPUP | WS_BORDER | WS_SYSMENU)
#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_NOPARENTNOTIFY 0x00000004L
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_WINDOWEDGE 0x00000100L
#define WS_EX_CLIENTEDGE 0x00000200L
#define CW_USEDEFAULT ((int)0x80000000)

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008
#define CS_OWNDC 0x0020
#define CS_PARENTDC 0x0080
#define CS_SAVEBITS 0x0800

/* Dialog styles. */
#define DS_ABSALIGN 0x01L
#define DS_SYSMODAL 0x02L
#define DS_LOCALEDIT 0x20L
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_NOIDLEMSG 0x100L
#define DS_SETFOREGROUND 0x200L
#define DS_3DLOOK 0x0004L
#define DS_CENTER 0x0800L

/* Static control styles. */
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_RIGHT 0x00000002L
#define SS_ICON 0x00000003L
#define SS_BLACKRECT 0x00000004L
#define SS_GRAYRECT 0x00000005L
#define SS_WHITERECT 0x00000006L
#define SS_SIMPLE 0x0000000BL
#define SS_LEFTNOWORDWRAP 0x0000000CL
#define SS_BITMAP 0x0000000EL
#define SS_TYPEMASK 0x0000001FL
#define SS_NOPREFIX 0x00000080L
#define SS_CENTERIMAGE 0x00000200L
#define SS_SUNKEN 0x00001000L

/* Edit styles, messages and notifications (single-line edits). */
#define ES_LEFT 0x0000L
#define ES_UPPERCASE 0x0008L
#define ES_LOWERCASE 0x0010L
#define ES_PASSWORD 0x0020L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_NUMBER 0x2000L
#define EM_GETSEL 0x00B0
#define EM_SETSEL 0x00B1
#define EM_LIMITTEXT 0x00C5
#define EM_SETREADONLY 0x00CF
#define EN_SETFOCUS 0x0100
#define EN_KILLFOCUS 0x0200
#define EN_CHANGE 0x0300
#define EN_MAXTEXT 0x0501

/* List box styles, messages and notifications (single selection). */
#define LBS_NOTIFY 0x0001L
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2
#define LB_ERR (-1)
#define LB_ADDSTRING 0x0180
#define LB_INSERTSTRING 0x0181
#define LB_DELETESTRING 0x0182
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_GETTOPINDEX 0x018E
#define LB_GETITEMDATA 0x0199
#define LB_SETITEMDATA 0x019A
#define LB_FINDSTRINGEXACT 0x01A2

/* Button styles and notifications. */
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_CHECKBOX 0x00000002L
#define BS_AUTOCHECKBOX 0x00000003L
#define BS_RADIOBUTTON 0x00000004L
#define BS_GROUPBOX 0x00000007L
#define BS_AUTORADIOBUTTON 0x00000009L
#define BS_TYPEMASK 0x0000000FL
#define BS_LEFT 0x00000100L
#define BS_RIGHT 0x00000200L
#define BS_CENTER 0x00000300L
#define BN_CLICKED 0
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_GETSTATE 0x00F2
#define BM_SETSTATE 0x00F3
#define BM_SETSTYLE 0x00F4
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BST_PUSHED 4
#define BST_FOCUS 8
#define STM_SETICON 0x0170
#define STM_GETICON 0x0171

/* Window messages. */
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETREDRAW 0x000B
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_ACTIVATEAPP 0x001C
#define WM_SETCURSOR 0x0020
#define WM_MOUSEACTIVATE 0x0021
#define WM_GETMINMAXINFO 0x0024
#define WM_NEXTDLGCTL 0x0028
#define WM_SETFONT 0x0030
#define WM_GETFONT 0x0031
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCCALCSIZE 0x0083
#define WM_NCHITTEST 0x0084
#define WM_NCPAINT 0x0085
#define WM_NCACTIVATE 0x0086
#define WM_GETDLGCODE 0x0087
#define WM_NCLBUTTONDOWN 0x00A1
#define WM_NCLBUTTONUP 0x00A2
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_INITMENU 0x0116
#define WM_INITMENUPOPUP 0x0117
#define WM_MENUSELECT 0x011F
#define WM_ENTERIDLE 0x0121
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_PARENTNOTIFY 0x0210
#define WM_ENTERMENULOOP 0x0211
#define WM_EXITMENULOOP 0x0212
#define WM_USER 0x0400
#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)

#define SC_CLOSE 0xF060
#define SC_KEYMENU 0xF100
#define SC_MOUSEMENU 0xF090

#define HTNOWHERE 0
#define HTCLIENT 1
#define HTCAPTION 2
#define HTSYSMENU 3
#define HTMENU 5
#define HTCLOSE 20
#define HTBORDER 18

#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002

#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2

#define SIZE_RESTORED 0

/* Virtual keys used by dialogs and menus. */
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_DELETE 0x2E
#define VK_F4 0x73
#define VK_F10 0x79

#define DLGC_WANTARROWS 0x0001
#define DLGC_WANTTAB 0x0002
#define DLGC_WANTALLKEYS 0x0004
#define DLGC_HASSETSEL 0x0008
#define DLGC_DEFPUSHBUTTON 0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_RADIOBUTTON 0x0040
#define DLGC_WANTCHARS 0x0080
#define DLGC_STATIC 0x0100
#define DLGC_BUTTON 0x2000

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

/* ShowWindow commands. */
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOREDRAW 0x0008
#define SWP_NOACTIVATE 0x0010
#define SWP_FRAMECHANGED 0x0020
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define HWND_TOP ((HWND)0)
#define HWND_BOTTOM ((HWND)1)
#define HWND_TOPMOST ((HWND)-1)
#define HWND_NOTOPMOST ((HWND)-2)
#define HWND_DESKTOP ((HWND)0)

/* Window longs. */
#define GWL_WNDPROC (-4)
#define GWL_HINSTANCE (-6)
#define GWL_HWNDPARENT (-8)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define GWL_ID (-12)
#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWLP_HWNDPARENT (-8)
#define GWLP_USERDATA (-21)
#define GWLP_ID (-12)
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16
#define DLGWINDOWEXTRA 30
#define GCL_MENUNAME (-8)
#define GCLP_HBRBACKGROUND (-10)
#define GCLP_HCURSOR (-12)
#define GCLP_HICON (-14)
#define GCLP_WNDPROC (-24)
#define GCL_CBWNDEXTRA (-18)
#define GCL_CBCLSEXTRA (-20)
#define GCL_STYLE (-26)

/* System metrics. */
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXVSCROLL 2
#define SM_CYHSCROLL 3
#define SM_CYCAPTION 4
#define SM_CXBORDER 5
#define SM_CYBORDER 6
#define SM_CXDLGFRAME 7
#define SM_CYDLGFRAME 8
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXCURSOR 13
#define SM_CYCURSOR 14
#define SM_CYMENU 15
#define SM_CXFULLSCREEN 16
#define SM_CYFULLSCREEN 17
#define SM_CXFRAME 32
#define SM_CYFRAME 33
#define SM_CXFIXEDFRAME SM_CXDLGFRAME
#define SM_CYFIXEDFRAME SM_CYDLGFRAME
#define SM_CXSIZE 30
#define SM_CYSIZE 31
#define SM_CXDOUBLECLK 36
#define SM_CYDOUBLECLK 37
#define SM_CXEDGE 45
#define SM_CYEDGE 46
#define SM_CXSMICON 49
#define SM_CYSMICON 50

/* System colours. */
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_3DSHADOW COLOR_BTNSHADOW
#define COLOR_3DHILIGHT COLOR_BTNHIGHLIGHT

/* Menus. */
#define MF_INSERT 0x00000000L
#define MF_CHANGE 0x00000080L
#define MF_APPEND 0x00000100L
#define MF_DELETE 0x00000200L
#define MF_REMOVE 0x00001000L
#define MF_BYCOMMAND 0x00000000L
#define MF_BYPOSITION 0x00000400L
#define MF_SEPARATOR 0x00000800L
#define MF_ENABLED 0x00000000L
#define MF_GRAYED 0x00000001L
#define MF_DISABLED 0x00000002L
#define MF_UNCHECKED 0x00000000L
#define MF_CHECKED 0x00000008L
#define MF_STRING 0x00000000L
#define MF_BITMAP 0x00000004L
#define MF_OWNERDRAW 0x00000100L
#define MF_POPUP 0x00000010L
#define MF_MENUBARBREAK 0x00000020L
#define MF_MENUBREAK 0x00000040L
#define MF_HILITE 0x00000080L
#define MF_DEFAULT 0x00001000L
#define MF_HELP 0x00004000L
#define MF_END 0x00000080L
#define TPM_LEFTALIGN 0x0000L
#define TPM_CENTERALIGN 0x0004L
#define TPM_RIGHTALIGN 0x0008L
#define TPM_TOPALIGN 0x0000L
#define TPM_VCENTERALIGN 0x0010L
#define TPM_BOTTOMALIGN 0x0020L
#define TPM_NONOTIFY 0x0080L
#define TPM_RETURNCMD 0x0100L

/* Message boxes. */
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONMASK 0x000000F0L

/* Stock resources. */
#define IDC_ARROW MAKEINTRESOURCE(32512)
#define IDC_IBEAM MAKEINTRESOURCE(32513)
#define IDC_WAIT MAKEINTRESOURCE(32514)
#define IDC_CROSS MAKEINTRESOURCE(32515)
#define IDI_APPLICATION MAKEINTRESOURCE(32512)
#define IDI_HAND MAKEINTRESOURCE(32513)
#define IDI_QUESTION MAKEINTRESOURCE(32514)
#define IDI_EXCLAMATION MAKEINTRESOURCE(32515)
#define IDI_ASTERISK MAKEINTRESOURCE(32516)
#define IDI_ERROR IDI_HAND
#define IDI_WARNING IDI_EXCLAMATION
#define IDI_INFORMATION IDI_ASTERISK

#define RT_CURSOR MAKEINTRESOURCE(1)
#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_MENU MAKEINTRESOURCE(4)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_GROUP_CURSOR MAKEINTRESOURCE(12)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)

/* GDI. */
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define OEM_FIXED_FONT 10
#define ANSI_FIXED_FONT 11
#define ANSI_VAR_FONT 12
#define SYSTEM_FONT 13
#define DEVICE_DEFAULT_FONT 14
#define SYSTEM_FIXED_FONT 16
#define DEFAULT_GUI_FONT 17

#define TRANSPARENT 1
#define OPAQUE 2

#define MM_TEXT 1
#define MM_LOMETRIC 2
#define MM_HIMETRIC 3
#define MM_LOENGLISH 4
#define MM_HIENGLISH 5
#define MM_TWIPS 6
#define MM_ISOTROPIC 7
#define MM_ANISOTROPIC 8

#define SRCCOPY 0x00CC0020
#define SRCPAINT 0x00EE0086
#define SRCAND 0x008800C6
#define SRCINVERT 0x00660046
#define BLACKNESS 0x00000042
#define WHITENESS 0x00FF0062

#define PS_SOLID 0
#define PS_NULL 5

#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_REGULAR 400
#define FW_MEDIUM 500
#define FW_SEMIBOLD 600
#define FW_BOLD 700
#define FW_HEAVY 900
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_ROMAN 0x10
#define FF_SWISS 0x20
#define FF_MODERN 0x30

#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_FONT 6
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10

#define DT_TOP 0x0000
#define DT_LEFT 0x0000
#define DT_CENTER 0x0001
#define DT_RIGHT 0x0002
#define DT_VCENTER 0x0004
#define DT_BOTTOM 0x0008
#define DT_WORDBREAK 0x0010
#define DT_SINGLELINE 0x0020
#define DT_EXPANDTABS 0x0040
#define DT_NOCLIP 0x0100
#define DT_CALCRECT 0x0400
#define DT_NOPREFIX 0x0800

#define CLR_INVALID 0xFFFFFFFF

/* The program's entry, defined by the program. */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev_instance, LPSTR command_line, int show);

/* kernel32 */
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b);
int WINAPI lstrlenA(LPCSTR s);
LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src);
int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...);
int WINAPI MulDiv(int number, int numerator, int denominator);

/* user32: classes and windows */
ATOM WINAPI RegisterClassA(const WNDCLASSA* wc);
BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE instance);
BOOL WINAPI GetClassInfoA(HINSTANCE instance, LPCSTR name, LPWNDCLASSA wc);
HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
#define CreateWindowA(c, n, s, x, y, w, h, p, m, i, l) CreateWindowExA(0, c, n, s, x, y, w, h, p, m, i, l)
BOOL WINAPI DestroyWindow(HWND hwnd);
BOOL WINAPI ShowWindow(HWND hwnd, int cmd);
BOOL WINAPI UpdateWindow(HWND hwnd);
BOOL WINAPI IsWindow(HWND hwnd);
BOOL WINAPI IsWindowVisible(HWND hwnd);
BOOL WINAPI IsWindowEnabled(HWND hwnd);
BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable);
HWND WINAPI GetParent(HWND hwnd);
HWND WINAPI GetWindow(HWND hwnd, UINT cmd);
#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5
HWND WINAPI GetDesktopWindow(void);
HWND WINAPI GetActiveWindow(void);
HWND WINAPI SetActiveWindow(HWND hwnd);
HWND WINAPI GetForegroundWindow(void);
BOOL WINAPI SetForegroundWindow(HWND hwnd);
HWND WINAPI GetFocus(void);
HWND WINAPI SetFocus(HWND hwnd);
HWND WINAPI GetCapture(void);
HWND WINAPI SetCapture(HWND hwnd);
BOOL WINAPI ReleaseCapture(void);
HWND WINAPI FindWindowA(LPCSTR class_name, LPCSTR window_name);
BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect);
BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect);
BOOL WINAPI SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags);
BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL WINAPI ClientToScreen(HWND hwnd, LPPOINT point);
BOOL WINAPI ScreenToClient(HWND hwnd, LPPOINT point);
HWND WINAPI WindowFromPoint(POINT point);
BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text);
int WINAPI GetWindowTextA(HWND hwnd, LPSTR text, int max_count);
int WINAPI GetWindowTextLengthA(HWND hwnd);
int WINAPI GetClassNameA(HWND hwnd, LPSTR name, int max_count);
LONG WINAPI GetWindowLongA(HWND hwnd, int index);
LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value);
LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index);
LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
WORD WINAPI GetWindowWord(HWND hwnd, int index);
WORD WINAPI SetWindowWord(HWND hwnd, int index, WORD value);
DWORD WINAPI GetClassLongA(HWND hwnd, int index);
ULONG_PTR WINAPI GetClassLongPtrA(HWND hwnd, int index);
int WINAPI GetSystemMetrics(int index);
DWORD WINAPI GetSysColor(int index);
HBRUSH WINAPI GetSysColorBrush(int index);
BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu);
BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD ex_style);
int WINAPI GetDlgCtrlID(HWND hwnd);

/* user32: messages */
BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last);
BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove);
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
void WINAPI PostQuitMessage(int exit_code);
LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
BOOL WINAPI WaitMessage(void);
DWORD WINAPI GetMessagePos(void);
LONG WINAPI GetMessageTime(void);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
#define USER_TIMER_MINIMUM 0x0000000A
UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id);
BOOL WINAPI MessageBeep(UINT type);

/* user32: painting */
BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL WINAPI ValidateRect(HWND hwnd, const RECT* rect);
BOOL WINAPI GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase);
HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT ps);
BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HDC WINAPI GetDC(HWND hwnd);
HDC WINAPI GetWindowDC(HWND hwnd);
int WINAPI ReleaseDC(HWND hwnd, HDC hdc);
int WINAPI FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
int WINAPI FrameRect(HDC hdc, const RECT* rect, HBRUSH brush);
int WINAPI DrawTextA(HDC hdc, LPCSTR text, int count, LPRECT rect, UINT format);
BOOL WINAPI DrawIcon(HDC hdc, int x, int y, HICON icon);
BOOL WINAPI SetRect(LPRECT rect, int left, int top, int right, int bottom);
BOOL WINAPI SetRectEmpty(LPRECT rect);
BOOL WINAPI IsRectEmpty(const RECT* rect);
BOOL WINAPI PtInRect(const RECT* rect, POINT point);
BOOL WINAPI OffsetRect(LPRECT rect, int dx, int dy);
BOOL WINAPI InflateRect(LPRECT rect, int dx, int dy);
BOOL WINAPI IntersectRect(LPRECT out, const RECT* a, const RECT* b);
BOOL WINAPI UnionRect(LPRECT out, const RECT* a, const RECT* b);
BOOL WINAPI CopyRect(LPRECT out, const RECT* in);
BOOL WINAPI EqualRect(const RECT* a, const RECT* b);

/* user32: menus */
HMENU WINAPI CreateMenu(void);
HMENU WINAPI CreatePopupMenu(void);
BOOL WINAPI DestroyMenu(HMENU menu);
HMENU WINAPI LoadMenuA(HINSTANCE instance, LPCSTR name);
HMENU WINAPI GetMenu(HWND hwnd);
BOOL WINAPI SetMenu(HWND hwnd, HMENU menu);
HMENU WINAPI GetSubMenu(HMENU menu, int pos);
BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR item);
DWORD WINAPI CheckMenuItem(HMENU menu, UINT id, UINT check);
BOOL WINAPI EnableMenuItem(HMENU menu, UINT id, UINT enable);
UINT WINAPI GetMenuState(HMENU menu, UINT id, UINT flags);
int WINAPI GetMenuItemCount(HMENU menu);
UINT WINAPI GetMenuItemID(HMENU menu, int pos);
int WINAPI GetMenuStringA(HMENU menu, UINT id, LPSTR text, int max_count, UINT flags);
BOOL WINAPI DrawMenuBar(HWND hwnd);
BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND hwnd, const RECT* rect);

/* user32: dialogs and message boxes */
INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC proc, LPARAM param);
#define DialogBoxA(i, t, o, p) DialogBoxParamA(i, t, o, p, 0)
HWND WINAPI CreateDialogParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC proc, LPARAM param);
BOOL WINAPI EndDialog(HWND dlg, INT_PTR result);
HWND WINAPI GetDlgItem(HWND dlg, int id);
BOOL WINAPI SetDlgItemTextA(HWND dlg, int id, LPCSTR text);
UINT WINAPI GetDlgItemTextA(HWND dlg, int id, LPSTR text, int max_count);
LRESULT WINAPI SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM wparam, LPARAM lparam);
BOOL WINAPI CheckDlgButton(HWND dlg, int id, UINT check);
UINT WINAPI IsDlgButtonChecked(HWND dlg, int id);
BOOL WINAPI MapDialogRect(HWND dlg, LPRECT rect);
LONG WINAPI GetDialogBaseUnits(void);
LRESULT WINAPI DefDlgProcA(HWND dlg, UINT msg, WPARAM wparam, LPARAM lparam);
BOOL WINAPI IsDialogMessageA(HWND dlg, LPMSG msg);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

/* user32: resources, cursors, icons */
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI SetCursor(HCURSOR cursor);
HCURSOR WINAPI GetCursor(void);
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR name);
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int max_count);

/* gdi32 */
HDC WINAPI CreateCompatibleDC(HDC hdc);
BOOL WINAPI DeleteDC(HDC hdc);
HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int width, int height);
HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits);
HGDIOBJ WINAPI GetStockObject(int index);
HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ object);
BOOL WINAPI DeleteObject(HGDIOBJ object);
int WINAPI GetObjectA(HGDIOBJ object, int size, LPVOID out);
DWORD WINAPI GetObjectType(HGDIOBJ object);
HBRUSH WINAPI CreateSolidBrush(COLORREF color);
HPEN WINAPI CreatePen(int style, int width, COLORREF color);
HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                         DWORD underline, DWORD strike_out, DWORD charset, DWORD out_precision, DWORD clip_precision,
                         DWORD quality, DWORD pitch_and_family, LPCSTR face);
int WINAPI SetBkMode(HDC hdc, int mode);
int WINAPI GetBkMode(HDC hdc);
COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
COLORREF WINAPI GetBkColor(HDC hdc);
COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color);
COLORREF WINAPI GetTextColor(HDC hdc);
BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR text, int count);
BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR text, int count, LPSIZE size);
BOOL WINAPI GetTextMetricsA(HDC hdc, LPTEXTMETRICA tm);
BOOL WINAPI BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int src_x, int src_y, DWORD rop);
BOOL WINAPI PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop);
COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color);
COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT old);
BOOL WINAPI LineTo(HDC hdc, int x, int y);
BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom);
int WINAPI GetMapMode(HDC hdc);
int WINAPI SetMapMode(HDC hdc, int mode);
BOOL WINAPI DPtoLP(HDC hdc, LPPOINT points, int count);
BOOL WINAPI LPtoDP(HDC hdc, LPPOINT points, int count);
int WINAPI GetDeviceCaps(HDC hdc, int index);
#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define LOGPIXELSX 88
#define LOGPIXELSY 90

#ifdef __cplusplus
}
#endif

#include "winreg.h"

#endif /* NT_INCLUDE_WINDOWS_H */
