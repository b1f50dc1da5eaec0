#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Keyboard.h"
#include "platform/Signals.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

struct termios g_savedMode;
volatile sig_atomic_t g_modeChanged = 0;
int g_depth = 0;
bool g_hooksInstalled = false;

void RestoreAtExit() { posix::RestoreTerminalForSignal(); }

// Ctrl+C and friends must not leave the terminal without echo.
void OnTerminatingSignal(int signal) {
    posix::RestoreTerminalForSignal();
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void InstallHooks() {
    if (g_hooksInstalled) return;
    g_hooksInstalled = true;
    std::atexit(RestoreAtExit);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0) continue;
        if (current.sa_handler != SIG_DFL) continue;  // someone else owns it
        struct sigaction action {};
        action.sa_handler = OnTerminatingSignal;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

bool InputReady() {
    struct pollfd descriptor {STDIN_FILENO, POLLIN, 0};
    int result = poll(&descriptor, 1, 0);
    return result > 0 && (descriptor.revents & (POLLIN | POLLHUP)) != 0;
}

int ReadByte() {
    unsigned char byte = 0;
    for (;;) {
        ssize_t count = read(STDIN_FILENO, &byte, 1);
        if (count == 1) return byte;
        if (count < 0 && errno == EINTR) continue;
        return -1;
    }
}

}  // namespace

namespace posix {
void RestoreTerminalForSignal() {
    if (g_modeChanged) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedMode);
        g_modeChanged = 0;
    }
}
}  // namespace posix

bool StdinIsInteractive() { return isatty(STDIN_FILENO) != 0; }

void KeyboardBegin() {
    if (g_depth++ > 0 || !StdinIsInteractive()) return;
    if (tcgetattr(STDIN_FILENO, &g_savedMode) != 0) return;
    InstallHooks();
    struct termios raw = g_savedMode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) g_modeChanged = 1;
}

void KeyboardEnd() {
    if (g_depth == 0 || --g_depth > 0) return;
    posix::RestoreTerminalForSignal();
}

bool KeyWaiting() { return StdinIsInteractive() && InputReady(); }

int ReadKey() {
    if (!KeyWaiting()) return -1;
    int key = ReadByte();
    // A cursor or function key arrives as Esc plus a sequence: swallow the
    // sequence so that it is not taken for the Esc key.
    if (key == 27 && InputReady()) {
        while (InputReady()) ReadByte();
        return 0;
    }
    return key;
}

int ReadStdinChar() {
    // The wait is in poll, which a caught signal always ends (read would be
    // restarted): an interruption must not wait for input that never comes.
    for (;;) {
        struct pollfd descriptor {STDIN_FILENO, POLLIN, 0};
        if (poll(&descriptor, 1, -1) >= 0 || errno != EINTR) return ReadByte();
        if (InterruptionRequested()) return -1;
    }
}

}  // namespace platform
