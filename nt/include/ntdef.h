/* Basic Windows NT kernel types, as a miniport sees them.
 *
 * Windows is LLP64: LONG and ULONG are 32 bits on every build, which is why
 * they are spelled with int here rather than long (long is 64 bits on an LP64
 * host). Pointers keep their natural size. */
#ifndef NT_INCLUDE_NTDEF_H
#define NT_INCLUDE_NTDEF_H

#ifndef IN
#define IN
#endif
#ifndef OUT
#define OUT
#endif
#ifndef OPTIONAL
#define OPTIONAL
#endif

#ifndef NULL
#ifdef __cplusplus
#define NULL 0
#else
#define NULL ((void*)0)
#endif
#endif

#ifndef VOID
#define VOID void
#endif

typedef char CHAR;
typedef short SHORT;
typedef int LONG;
typedef long long LONGLONG;

typedef unsigned char UCHAR;
typedef unsigned short USHORT;
typedef unsigned int ULONG;
typedef unsigned long long ULONGLONG;

typedef char CCHAR;
typedef UCHAR BOOLEAN;

typedef void* PVOID;
typedef CHAR* PCHAR;
typedef const CHAR* PCSZ;
typedef UCHAR* PUCHAR;
typedef USHORT* PUSHORT;
typedef ULONG* PULONG;
typedef LONG* PLONG;
typedef BOOLEAN* PBOOLEAN;

#define TRUE 1
#define FALSE 0

typedef union _LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  };
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

#if defined(__cplusplus)
#define NT_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define NT_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(__i386__)
#define NT_ASSERT_LAYOUT_32 1
#else
#define NT_ASSERT_LAYOUT_32 0
#endif

NT_STATIC_ASSERT(sizeof(ULONG) == 4, "ULONG is 32 bits");
NT_STATIC_ASSERT(sizeof(LONG) == 4, "LONG is 32 bits");
NT_STATIC_ASSERT(sizeof(USHORT) == 2, "USHORT is 16 bits");
NT_STATIC_ASSERT(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER is 64 bits");

#endif /* NT_INCLUDE_NTDEF_H */
