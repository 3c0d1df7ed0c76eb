#include "keys.h"
#include "platform.h"

#include <io.h>
#include <windows.h>

namespace {

HANDLE console = INVALID_HANDLE_VALUE;
DWORD saved_mode;

// Held for each change of mode, and by the control handler to the exit, so
// that no change on the main thread comes after the handler's.
SRWLOCK mode_lock = SRWLOCK_INIT;

bool set_mode(DWORD mode)
{
    AcquireSRWLockExclusive(&mode_lock);
    const bool set = SetConsoleMode(console, mode) != 0;
    ReleaseSRWLockExclusive(&mode_lock);
    return set;
}

// Ctrl+Break, and Ctrl+C where the console still sends it as a signal, end
// the wait the way a key does: the mode put back and exit status 1. It runs
// on a thread of its own.
BOOL WINAPI end_wait(DWORD)
{
    AcquireSRWLockExclusive(&mode_lock);
    SetConsoleMode(console, saved_mode);
    ExitProcess(1);
}

HANDLE handle_of(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

} // namespace

void turn_write_signals_into_errors() {}

void console_open()
{
    // The console's own keyboard, even when standard input is redirected.
    console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// No wait without a console, or with one that cannot be read. The control
// handler stays to the exit, which follows.
void wait_for_key()
{
    // Mode 0: no line editing, no echo, and Ctrl+C as a plain key press.
    if (GetConsoleMode(console, &saved_mode) != 0 && SetConsoleCtrlHandler(end_wait, TRUE) != 0 &&
        set_mode(0)) {
        INPUT_RECORD event{};
        DWORD count;
        while (ReadConsoleInputA(console, &event, 1, &count) != 0 && count == 1) {
            const KEY_EVENT_RECORD& key = event.Event.KeyEvent;
            if (event.EventType == KEY_EVENT && key.bKeyDown &&
                key_ends_wait(key.wVirtualKeyCode, key.uChar.AsciiChar, key.dwControlKeyState)) {
                break;
            }
        }
        set_mode(saved_mode);
    }
}

// fopen refuses a directory here.
bool is_directory(std::FILE*) { return false; }

bool is_same_file(std::FILE* stream, const char* path)
{
    BY_HANDLE_FILE_INFORMATION open_file{};
    if (GetFileInformationByHandle(handle_of(stream), &open_file) == 0) {
        return false;
    }
    const HANDLE named = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = GetFileInformationByHandle(named, &info) != 0 &&
                      info.dwVolumeSerialNumber == open_file.dwVolumeSerialNumber &&
                      info.nFileIndexHigh == open_file.nFileIndexHigh &&
                      info.nFileIndexLow == open_file.nFileIndexLow;
    CloseHandle(named);
    return same;
}
