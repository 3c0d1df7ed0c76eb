#include "keys.h"
#include "platform.h"

#include <cstdint>
#include <io.h>
#include <string>
#include <windows.h>

namespace {

HANDLE console = INVALID_HANDLE_VALUE;
DWORD saved_mode;
bool mode_changed = false;

// Held for each change of mode, and by the control handler to the exit, so
// that no change on the main thread comes after the handler's. Never held
// while waiting for the turn, which the handler must be able to end.
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

// Waits while another run waits for a key in the same console, told apart by
// its window; the turn is given back at the exit, even a killed run's, and an
// abandoned one is taken all the same. A console without a window cannot be
// told apart, and has no turn to wait for.
void wait_for_turn()
{
    const HWND window = GetConsoleWindow();
    if (window != nullptr) {
        const std::string name =
            "Local\\quaro-key-wait-" + std::to_string(reinterpret_cast<std::uintptr_t>(window));
        WaitForSingleObject(CreateMutexA(nullptr, FALSE, name.c_str()), INFINITE);
    }
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
// handler stays to the exit, which follows; the mode is saved only once the
// turn is had, so that it is not another run's.
void wait_for_key()
{
    if (SetConsoleCtrlHandler(end_wait, TRUE) == 0) {
        return;
    }
    wait_for_turn();
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
