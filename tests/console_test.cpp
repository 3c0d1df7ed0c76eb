// quaro.exe's key wait in the Windows console. The tool runs as a child that
// shares this program's console, and each case writes input records straight
// into the console's input buffer, as the keyboard would, or sends a control
// signal; then it checks the tool's exit status, the records left unread and
// the console's mode.
//
//   console_test QUARO_EXE      (in a console; under wine, on a terminal)
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include <windows.h>

#include <sddl.h>

namespace {

HANDLE console = INVALID_HANDLE_VALUE;
int checks = 0;
int failures = 0;

void check(const char* what, const char* name, DWORD want, DWORD got)
{
    ++checks;
    if (want != got) {
        std::printf("FAIL: %s: %s is %lu, not %lu\n", what, name, got, want);
        ++failures;
    }
}

INPUT_RECORD key(WORD virtual_key, char character, DWORD modifiers = 0, BOOL down = TRUE)
{
    INPUT_RECORD event{KEY_EVENT, {}};
    event.Event.KeyEvent = {down, 1, virtual_key, 0, {}, modifiers};
    event.Event.KeyEvent.uChar.UnicodeChar = static_cast<unsigned char>(character);
    return event;
}

INPUT_RECORD other(WORD type) { return {type, {}}; }

void type(const std::vector<INPUT_RECORD>& events)
{
    const auto count = static_cast<DWORD>(events.size());
    DWORD written = 0;
    WriteConsoleInputW(console, events.data(), count, &written);
    check("typing", "the records written", count, written);
}

DWORD console_mode()
{
    DWORD mode = 0xFFFFFFFF;
    GetConsoleMode(console, &mode);
    return mode;
}

DWORD events_left()
{
    DWORD count = 0;
    GetNumberOfConsoleInputEvents(console, &count);
    return count;
}

// What else has the console's wait: nothing, a second run started once the
// tool waits, or the tests themselves, holding its mutex as a run that waits
// does, refusing it as an elevated run's refuses one that is not, or keeping
// any mutex from being had with an event of its name, in the first mode or
// in a wait's.
enum Other { alone, second_run, held_mutex, refusing_mutex, no_mutex, no_mutex_in_a_wait };

constexpr DWORD ctrl = LEFT_CTRL_PRESSED;
constexpr DWORD no_signal = MAXDWORD;

struct Case {
    const char* what;
    std::string arguments = "missing.wav";
    DWORD flags = 0;                       // how the tool is started
    std::vector<INPUT_RECORD> before = {}; // typed before it starts
    std::vector<INPUT_RECORD> typed = {};  // typed once it waits
    DWORD signal = no_signal;              // sent once it waits, unless no_signal
    DWORD left = 0;                        // records unread at the end
    Other other = alone;
};

// Whether the tool sets the console's mode for its wait within 5 s.
bool waits(HANDLE tool)
{
    for (int tries = 0; tries < 500 && WaitForSingleObject(tool, 0) == WAIT_TIMEOUT; ++tries) {
        if (console_mode() == 0) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

HANDLE hold_name(Other other)
{
    char name[64];
    std::snprintf(
        name, sizeof name, "Local\\quaro-key-wait-%llu",
        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(GetConsoleWindow())));
    if (other >= no_mutex) {
        return CreateEventA(nullptr, TRUE, FALSE, name);
    }
    SECURITY_ATTRIBUTES refusal{sizeof refusal, nullptr, FALSE}; // "D:", a list that grants nothing
    ConvertStringSecurityDescriptorToSecurityDescriptorA("D:", SDDL_REVISION_1,
                                                         &refusal.lpSecurityDescriptor, nullptr);
    return CreateMutexA(other == refusing_mutex ? &refusal : nullptr, TRUE, name);
}

DWORD exit_status(HANDLE process)
{
    WaitForSingleObject(process, 20000); // wine starts a program it has not run before slowly
    DWORD status = STILL_ACTIVE;
    GetExitCodeProcess(process, &status);
    return status;
}

void run(const Case& test, const std::string& quaro, DWORD first_mode)
{
    // Standard input from NUL: the key comes from the console all the same.
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = CreateFileA("NUL", GENERIC_READ, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    const HANDLE mutex = test.other >= held_mutex ? hold_name(test.other) : nullptr;
    const DWORD wait_mode = ENABLE_PROCESSED_INPUT; // neither line input nor echo
    if (test.other == no_mutex_in_a_wait) {
        SetConsoleMode(console, wait_mode);
    }
    type(test.before);
    std::string command = '"' + quaro + "\" " + test.arguments;
    PROCESS_INFORMATION tool{}, second{};
    CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, test.flags, nullptr, nullptr,
                   &startup, &tool);
    if (!test.typed.empty() || test.signal != no_signal) {
        check(test.what, "waiting", TRUE, waits(tool.hProcess));
    }
    // Another run, started as `start /b` would start it, or the held mutex:
    // the tool, or the second, waits until the key, the mode untouched.
    if (test.other == second_run) {
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &second);
    }
    const HANDLE waiting = test.other == second_run ? second.hProcess : tool.hProcess;
    if (test.other == second_run || test.other == held_mutex) {
        Sleep(1000);
        check(test.what, "waiting with the first", WAIT_TIMEOUT, WaitForSingleObject(waiting, 0));
        SetConsoleMode(console, ENABLE_LINE_INPUT); // neither the first mode nor the wait's
        ReleaseMutex(mutex);
    }
    if (test.signal != no_signal) {
        GenerateConsoleCtrlEvent(test.signal, 0);
    }
    if (test.other == second_run && test.signal != no_signal) { // which the first ignores
        check(test.what, "the second's exit status", 1, exit_status(second.hProcess));
        check(test.what, "the mode after the second", ENABLE_LINE_INPUT, console_mode());
    }
    type(test.typed);
    check(test.what, "the exit status", 1, exit_status(tool.hProcess));
    if (test.other == second_run) {
        check(test.what, "the second's exit status", 1, exit_status(second.hProcess));
    }
    check(test.what, "the records left", test.left, events_left());
    const DWORD mode_at_end = test.other == held_mutex           ? ENABLE_LINE_INPUT
                              : test.other == no_mutex_in_a_wait ? wait_mode
                                                                 : first_mode;
    check(test.what, "the console mode", mode_at_end, console_mode());
    for (const HANDLE process : {tool.hProcess, second.hProcess}) {
        TerminateProcess(process, 1); // each is null, and refused, unless started
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
    }
    CloseHandle(mutex);
    CloseHandle(startup.hStdInput);
    // Wine keeps a read that a process left unfinished when it ended, and
    // gives it the next record; this one is that record.
    type({other(FOCUS_EVENT)});
    FlushConsoleInputBuffer(console);
    SetConsoleMode(console, first_mode);
}

} // namespace

int main(int argc, char** argv)
{
    // Ctrl+C and Ctrl+Break meant for the tool must not end the tests.
    SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
    console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    // A mode of the tests' own, not 0 (the wait's) nor wine's first, so that
    // only the mode found can be the one put back.
    const DWORD first_mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    if (argc != 2 || SetConsoleMode(console, first_mode) == 0) {
        std::puts("usage, in a console: console_test QUARO_EXE");
        return 2;
    }
    const std::string quaro = argv[1];
    // Typed before the wait: what ends no wait (events that are no key press,
    // a release, a key that produces no character and is not listed, and a
    // combination that has no key code; which keys those are: keys_test), all
    // read and skipped; then F1, which ends the wait at once, and one more
    // key, left unread.
    const std::vector<INPUT_RECORD> typed_before = {
        other(FOCUS_EVENT), other(MOUSE_EVENT),      other(WINDOW_BUFFER_SIZE_EVENT),
        other(MENU_EVENT),  key('A', 'a', 0, FALSE), key(VK_SHIFT, 0, SHIFT_PRESSED),
        key('1', 0, ctrl),  key(VK_F1, 0),           key('B', 'b')};
    // clang-format off
    const Case cases[] = {
        {.what = "typed before", .before = typed_before, .left = 1},
        {.what = "Ctrl+C as a key", .typed = {key('C', '\x03', ctrl)}},
        {.what = "Ctrl+C as a signal", .signal = CTRL_C_EVENT},
        {.what = "two at once", .typed = {key('A', 'a')}, .other = second_run},
        {.what = "Ctrl+C to the second", .flags = CREATE_NEW_PROCESS_GROUP, .typed = {key('A', 'a')},
         .signal = CTRL_C_EVENT, .other = second_run},
        {.what = "a held mutex", .before = {key('A', 'a')}, .left = 1, .other = held_mutex},
        {.what = "a mutex that refuses", .before = {key('A', 'a')}, .left = 1, .other = refusing_mutex},
        {.what = "no file named, no mutex", .arguments = "", .typed = {key('A', 'a')}, .other = no_mutex},
        {.what = "no mutex, a wait's mode", .before = {key('A', 'a')}, .left = 1,
         .other = no_mutex_in_a_wait},
        {.what = "no console", .flags = DETACHED_PROCESS},
    };
    // clang-format on
    for (const Case& test : cases) {
        run(test, quaro, first_mode);
    }
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
