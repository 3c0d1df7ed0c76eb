#include "keys.h"
#include "platform.h"

#include <cstdint>
#include <cstdio>
#include <io.h>
#include <windows.h>

namespace {

HANDLE console = INVALID_HANDLE_VALUE;
DWORD saved_mode;
bool mode_changed = false;

// Held for each change of mode, and by the control handler to the exit, so
// that no change on the main thread comes after the handler's. Never held
// while waiting with another run, which the handler must be able to end.
SRWLOCK mode_lock = SRWLOCK_INIT;

bool set_mode(DWORD mode)
{
    AcquireSRWLockExclusive(&mode_lock);
    const bool set = SetConsoleMode(console, mode) != 0;
    mode_changed = true;
    ReleaseSRWLockExclusive(&mode_lock);
    return set;
}

// Ctrl+Break, closing the window, and Ctrl+C where the console still sends it
// as a signal, end the wait the way a key does: the mode put back, once it
// was changed, and exit status 1. It runs on a thread of its own.
BOOL WINAPI end_wait(DWORD)
{
    AcquireSRWLockExclusive(&mode_lock);
    if (mode_changed) {
        SetConsoleMode(console, saved_mode);
    }
    ExitProcess(1);
}

// Whether the console is in a mode other than a wait's: line editing or echo.
bool not_waiting_mode()
{
    DWORD mode{};
    return GetConsoleMode(console, &mode) != 0 &&
           (mode & (ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) != 0;
}

// Whether this run is the one to wait for a key: one key ends every wait in
// a console. The first run to fail holds a mutex named after the console's
// window to its exit, which gives it back however the run ends. A run that
// finds it held waits with that run: it blocks until the holder has ended,
// the console untouched, and then waits for no key of its own. A mutex that
// refuses this run (an elevated run's, to one that is not) counts as held,
// but cannot be waited on: no wait then. Where there is no mutex (a console
// without a window cannot be told apart), a console already in a wait's
// mode is left alone.
bool first_to_wait()
{
    const HWND window = GetConsoleWindow();
    if (window == nullptr) {
        return not_waiting_mode();
    }
    char name[sizeof "Local\\quaro-key-wait-18446744073709551615"];
    std::snprintf(name, sizeof name, "Local\\quaro-key-wait-%llu",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) {
        return GetLastError() != ERROR_ACCESS_DENIED && not_waiting_mode();
    }
    if (WaitForSingleObject(mutex, 0) != WAIT_TIMEOUT) {
        return true; // its own now, or abandoned by a run that was killed
    }
    WaitForSingleObject(mutex, INFINITE);
    return false;
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
    if (SetConsoleCtrlHandler(end_wait, TRUE) == 0 || !first_to_wait()) {
        return;
    }
    // Mode 0: no line editing, no echo, and Ctrl+C as a plain key press.
    if (GetConsoleMode(console, &saved_mode) != 0 && set_mode(0)) {
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
