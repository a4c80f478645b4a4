// Kernel services: command line, modules and resources, time, system directory, text
// conversion, virtual memory and file mappings. Implemented in platform/win32 over POSIX.
#pragma once

#include "win32/types.h"

// The whole command line: the program path (double-quoted when it holds a blank), then the
// arguments joined with blanks. Valid for the whole run.
LPSTR WINAPI GetCommandLineA(void);

// NULL names the executable itself; the answer is the handle WinMain receives.
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);

// Resource names and types are either integers (MAKEINTRESOURCEA) or case-insensitive texts;
// a text of the form "#123" names the integer 123.
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_RCDATA MAKEINTRESOURCEA(10)

// Null when the module holds no such resource. The bytes are read-only and stay valid for
// the whole run; nothing needs freeing.
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL data);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

// Local wall-clock time.
void WINAPI GetLocalTime(LPSYSTEMTIME time);

// Writes the system directory and returns its length; when the buffer is too small, returns
// the size needed (with the terminator) and writes nothing; 0 on failure.
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);

#define CP_ACP 0
// Code page CP_ACP is the fixed byte-per-character mapping: code points 0-255 become the byte
// of the same value, anything above becomes the default character ('?' when none is given).
// Returns the bytes written (or needed, for a zero output size), 0 when the output is too small.
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount,
                               LPSTR out, int outSize, LPCSTR defaultChar, LPBOOL usedDefault);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textCount,
                               LPWSTR out, int outCount);

// The program's entry point, defined by the program: the layer's main calls it with the
// module handle, a null previous instance, the arguments part of the command line and
// SW_SHOWNORMAL.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// An exported function as GetProcAddress answers it; callers cast it to the function's type.
typedef INT_PTR(WINAPI* FARPROC)(void);

// Loads a library: "d3d9.dll" and "dinput8.dll" (any case, with or without a folder or the
// ".dll") are answered by the layer itself; any other name is a shared object loaded from that file (a Windows
// name is looked up on disk as fopen does). Null when it cannot be loaded. Every successful
// call needs one FreeLibrary.
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
// The export of that name, or null (also for a null or unknown module, or an ordinal).
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
// Balances one LoadLibraryA; the layer's own libraries stay loaded. FALSE for a handle
// LoadLibraryA did not give.
BOOL WINAPI FreeLibrary(HMODULE module);

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// ---- Event objects and waiting ---------------------------------------------------------------

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

// An event of this process: manual-reset events stay signalled until reset; auto-reset ones
// are reset by the wait they satisfy. The security attributes are ignored. Named events are not
// offered: a name gives null. Handles are never reused, so a closed handle stays invalid.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
// Signals the event; FALSE for a handle that names no open event.
BOOL WINAPI SetEvent(HANDLE event);
// Waits for one (waitAll FALSE) or all of 1..MAXIMUM_WAIT_OBJECTS events. WAIT_OBJECT_0 + i
// names the lowest signalled index (waitAll: WAIT_OBJECT_0 once all are signalled); the
// auto-reset events the wait was satisfied by are reset. WAIT_TIMEOUT when nothing came within
// `milliseconds` (0: just looks); WAIT_FAILED for a bad count, a handle that names no open event,
// or, with waitAll, the same event twice. While it waits, new SDL input is read (no window
// messages are dispatched), since that is what signals the layer's events.
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// ---- Memory and file mappings ----------------------------------------------------------------

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_RELEASE 0x00008000
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_WRITECOPY 0x08

// Only what the engine needs: a fresh region of `size` > 0 bytes at an address the system
// picks (address null), committed and read-write (MEM_COMMIT, with or without MEM_RESERVE;
// PAGE_READWRITE); anything else answers null. The region is zero-filled. Regions of 1 MB and
// more start on a 2 MB boundary and are offered to the kernel for transparent huge pages,
// where one fault fills 2 MB instead of 4 KB: first touches of a large block cost a small
// fraction of what they cost in 4 KB pages. Such a region may span up to 2 MB more than asked.
LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
// Releases a whole region VirtualAlloc gave: the base address, size 0 and MEM_RELEASE. FALSE
// for any other address, size or type (decommitting a part is not offered).
BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

#define FILE_MAP_COPY 0x0001
#define FILE_MAP_READ 0x0004

// A mapping object over an open regular file, whose handle comes from _get_osfhandle (<io.h>)
// of a runtime descriptor open for reading. protect is PAGE_READONLY or PAGE_WRITECOPY; the
// size (maximumSizeHigh:maximumSizeLow) is 0 for the whole file or at most the file's length;
// name must be null (named mappings are not offered); attributes are ignored. Null for an
// empty file (as Windows refuses one), for anything that is not a regular file, and for any
// other argument. The object holds the file on its own: the descriptor may be closed at once.
HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                                 DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);
// A view of the mapping from the offset (a multiple of 64 KB, the Windows allocation
// granularity) for `bytes` bytes (0: to the mapping's end). FILE_MAP_READ gives a read-only
// view; FILE_MAP_COPY a copy-on-write one, whose writes stay in this process and never reach
// the file. Null for anything else or an offset past the end. The view stays valid after the
// mapping's handle is closed, until UnmapViewOfFile. Unwritten pages show the file as it is
// now: a change another process makes shows through, and (unlike Windows, which refuses to
// shorten a mapped file) pages cut off by shortening the file fault when read.
LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD fileOffsetHigh,
                            DWORD fileOffsetLow, SIZE_T bytes);
// Ends a view by its base address; FALSE for an address MapViewOfFile did not give.
BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress);

// Closes an event, a mapping handle from CreateFileMappingA or a file from CreateFileA; FALSE
// for anything else (a handle from _get_osfhandle stays the runtime's and is closed with the
// descriptor).
BOOL WINAPI CloseHandle(HANDLE object);

// ---- Temporary files -------------------------------------------------------------------------

#define GENERIC_WRITE 0x40000000u
#define CREATE_ALWAYS 2
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

// The folder for temporary files: $TMPDIR when set and not empty, else /tmp, always with a
// trailing '/'. Returns its length; when `size` is too small, the size needed (with the
// terminator) and nothing written.
DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer);
// Names a file in `path`: the path, '/' when it has none at its end, up to three characters of
// `prefix`, four upper-case hex digits and ".tmp", written to `tempFileName` (MAX_PATH
// characters). With `unique` 0 the number is chosen and the file created empty, exclusively
// and readable and writable by the owner only (0600); a name that exists is passed over for the
// next number. With another `unique` only the name is formed. Returns the number used; 0 on
// failure (no number free, the folder missing or unwritable, a name longer than MAX_PATH).
UINT WINAPI GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName);
// Only what temporary files need: GENERIC_WRITE with CREATE_ALWAYS (the file emptied, or made
// with the user's usual mode); sharing, security attributes, further attributes (such as
// FILE_ATTRIBUTE_TEMPORARY) and the template are ignored. INVALID_HANDLE_VALUE on failure or
// for any other access or disposition. The handle is closed with CloseHandle.
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES attributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
// Writes all `size` bytes (overlapped must be null) and stores the count written; FALSE when
// the handle names no file of CreateFileA or the write fails (the count then says how far it got).
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
// Removes a file; FALSE when it cannot.
BOOL WINAPI DeleteFileA(LPCSTR fileName);

// ---- Threads ---------------------------------------------------------------------------------

#define THREAD_PRIORITY_IDLE (-15)

// A pseudo handle that names the calling thread wherever it is used; it needs no closing.
HANDLE WINAPI GetCurrentThread(void);

// THREAD_PRIORITY_IDLE gives the calling thread the weakest claim on the processor Linux has
// (nice 19), for this thread only. FALSE for another handle or another priority.
BOOL WINAPI SetThreadPriority(HANDLE thread, int priority);
