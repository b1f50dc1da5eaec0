#include "tests/support/Process.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>

#include <mutex>
#include <thread>
#else
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;
#endif

std::string WindowsCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) line += ' ';
        if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += argument;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : argument) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes count as escapes only in front of a quote.
            if (c == '"') {
                line.append(backslashes * 2 + 1, '\\');
            } else {
                line.append(backslashes, '\\');
            }
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');  // they stand before the closing quote
        line += '"';
    }
    return line;
}

bool CopyFileBytes(const std::string& from, const std::string& to) {
    std::ifstream source(from, std::ios::binary);
    if (!source) return false;
    std::ofstream target(to, std::ios::binary | std::ios::trunc);
    if (!target) return false;
    target << source.rdbuf();
    target.flush();
    return static_cast<bool>(target) && !source.bad();
}

namespace {

// Interruptions are asked for at all.
bool InterruptsWanted(const ProcessRun& run) { return !run.InterruptWhen.empty() || run.InterruptAfterMs > 0; }

// The moment for the next interruption has come.
bool InterruptDue(const ProcessRun& run, const std::string& err, uint64_t elapsedMs) {
    if (run.InterruptWhen.empty()) return elapsedMs >= run.InterruptAfterMs;
    int seen = 0;
    for (size_t at = err.find(run.InterruptWhen); at != std::string::npos && seen < run.InterruptOccurrence;
         at = err.find(run.InterruptWhen, at + 1))
        ++seen;
    return seen >= run.InterruptOccurrence;
}

}  // namespace

#ifdef _WIN32

uint32_t ExitCodeFor(int value) { return static_cast<uint32_t>(value); }

std::string NativePath(const std::string& path) {
    if (path.empty() || path[0] != '/' || (path.size() > 1 && path[1] == '/')) return path;
    std::string native = "Z:" + path;
    std::replace(native.begin(), native.end(), '/', '\\');
    return native;
}

namespace {

LONG WINAPI EndWithFaultCode(EXCEPTION_POINTERS* info) {
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The Ctrl+C sent to a program's console reaches this process too while it
// is attached there: it is not ours to end on. (A handler, unlike the
// ignore flag, is not inherited by the programs started later.)
BOOL WINAPI IgnoreConsoleEvent(DWORD) { return TRUE; }

// A Ctrl+C on the console of process `id` (one of its own: Wine delivers no
// Ctrl+Break to a process group whose streams are pipes, but a Ctrl+C on a
// console it does).
void SendControlC(DWORD id) {
    static const BOOL ignoring = SetConsoleCtrlHandler(IgnoreConsoleEvent, TRUE);
    (void)ignoring;
    FreeConsole();
    if (AttachConsole(id)) GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    FreeConsole();
    AttachConsole(ATTACH_PARENT_PROCESS);
}

}  // namespace

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void EndQuietlyOnUnhandledFault() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndWithFaultCode);
}

namespace {

std::string UpperName(const std::string& entry) {
    // "=C:=C:\dir" entries keep their leading '=' as part of the name.
    const size_t equals = entry.find('=', 1);
    std::string name = entry.substr(0, equals);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::vector<char> EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> entries;
    if (char* strings = GetEnvironmentStringsA()) {
        for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) entries.emplace_back(entry);
        FreeEnvironmentStringsA(strings);
    }
    for (const auto& variable : extra) {
        const std::string entry = variable.first + "=" + variable.second;
        const std::string name = UpperName(entry);
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::string& existing) { return UpperName(existing) == name; }),
                      entries.end());
        entries.push_back(entry);
    }
    // The block is expected in the order of the names, without regard to case.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::string& a, const std::string& b) { return UpperName(a) < UpperName(b); });
    std::vector<char> block;
    for (const std::string& entry : entries) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    block.push_back('\0');
    if (entries.empty()) block.push_back('\0');
    return block;
}

// Reads until every writing end is closed, or until `stop` once nothing is
// left to read: a process the program left behind (under Wine, one of its
// own helpers) may keep a writing end open after the program has ended.
void ReadAll(HANDLE pipe, std::string* into, std::mutex* guard, const std::atomic<bool>* stop) {
    char buffer[65536];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return;  // no writer left
        if (available == 0) {
            if (stop->load()) return;
            Sleep(2);
            continue;
        }
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &read, nullptr) || read == 0) return;
        std::lock_guard<std::mutex> lock(*guard);
        into->append(buffer, read);
    }
}

void WriteAll(HANDLE pipe, const std::string* text) {
    size_t written = 0;
    while (written < text->size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text->size() - written, 65536));
        DWORD done = 0;
        if (!WriteFile(pipe, text->data() + written, chunk, &done, nullptr)) break;  // the program stopped reading
        written += done;
    }
    CloseHandle(pipe);
}

std::string LastErrorText(const char* what) {
    return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

}  // namespace

ProcessResult RunProcess(const ProcessRun& run) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inheritable;
    inheritable.nLength = sizeof inheritable;
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr, errRead = nullptr,
           errWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, &inheritable, 0) || !CreatePipe(&outRead, &outWrite, &inheritable, 0) ||
        !CreatePipe(&errRead, &errWrite, &inheritable, 0)) {
        result.StartError = LastErrorText("CreatePipe");
        for (HANDLE h : {inRead, inWrite, outRead, outWrite, errRead, errWrite})
            if (h != nullptr) CloseHandle(h);
        return result;
    }
    // Our ends must not leak into the program, or its input never ends.
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;

    const std::string executable = NativePath(run.Executable);
    std::vector<std::string> arguments{executable};
    arguments.insert(arguments.end(), run.Arguments.begin(), run.Arguments.end());
    std::string commandLine = WindowsCommandLine(arguments);
    std::vector<char> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back('\0');
    std::vector<char> environment = EnvironmentBlock(run.Environment);
    const std::string directory = NativePath(run.WorkingDirectory);

    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    // A console of its own takes the Ctrl+C meant for it alone.
    const DWORD flags = InterruptsWanted(run) ? CREATE_NEW_CONSOLE : 0;
    const BOOL created = CreateProcessA(executable.c_str(), commandBuffer.data(), nullptr, nullptr, TRUE, flags,
                                       environment.data(), directory.empty() ? nullptr : directory.c_str(), &startup,
                                       &process);
    if (!created) result.StartError = LastErrorText("CreateProcessA");
    CloseHandle(inRead);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!created) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        CloseHandle(errRead);
        return result;
    }
    result.Started = true;
    CloseHandle(process.hThread);

    // Separate threads, so that a program that writes much before it reads
    // (or the other way round) never waits on us.
    std::thread writer(WriteAll, inWrite, &run.Input);
    std::mutex outputGuard;
    std::atomic<bool> stopReading{false};
    std::atomic<int> readersLeft{2};
    auto reader = [&](HANDLE pipe, std::string* into) {
        ReadAll(pipe, into, &outputGuard, &stopReading);
        --readersLeft;
    };
    std::thread outReader(reader, outRead, &result.Out);
    std::thread errReader(reader, errRead, &result.Err);

    const ULONGLONG started = GetTickCount64();
    const ULONGLONG deadline = started + run.TimeoutMs;
    int interruptsLeft = InterruptsWanted(run) ? run.InterruptCount : 0;
    while (interruptsLeft > 0 && GetTickCount64() < deadline &&
           WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
        bool due = false;
        {
            std::lock_guard<std::mutex> lock(outputGuard);
            due = InterruptDue(run, result.Err, GetTickCount64() - started);
        }
        if (!due) continue;
        SendControlC(process.dwProcessId);
        if (--interruptsLeft > 0) Sleep(run.InterruptIntervalMs);
    }
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process.hProcess, left) != WAIT_OBJECT_0) {
        result.TimedOut = true;
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    // What the program wrote is in the pipes by now; a few seconds for the
    // readers to see the writing ends close, then they stop at an empty pipe.
    const ULONGLONG grace = GetTickCount64() + 5000;
    while (readersLeft.load() > 0 && GetTickCount64() < grace) Sleep(5);
    if (readersLeft.load() > 0)
        std::fprintf(stderr, "note: the output pipes of %s stayed open after it ended\n", executable.c_str());
    stopReading = true;
    writer.join();
    outReader.join();
    errReader.join();
    CloseHandle(outRead);
    CloseHandle(errRead);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    result.ExitCode = exitCode;
    CloseHandle(process.hProcess);
    return result;
}

#else  // POSIX

uint32_t ExitCodeFor(int value) { return static_cast<uint8_t>(value); }

std::string NativePath(const std::string& path) { return path; }

void EndQuietlyOnUnhandledFault() {}

bool RunningUnderWine() { return false; }

namespace {

int64_t NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

std::string VariableName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

ProcessResult RunProcess(const ProcessRun& run) {
    ProcessResult result;
    // Writing to a program that has closed its input must fail with EPIPE
    // rather than end the test. The program gets the default back.
    signal(SIGPIPE, SIG_IGN);

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<std::string> arguments{run.Executable};
    arguments.insert(arguments.end(), run.Arguments.begin(), run.Arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) environment.emplace_back(*entry);
    for (const auto& variable : run.Environment) {
        environment.erase(std::remove_if(environment.begin(), environment.end(),
                                         [&](const std::string& e) { return VariableName(e) == variable.first; }),
                          environment.end());
        environment.push_back(variable.first + "=" + variable.second);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(&entry[0]);
    envp.push_back(nullptr);

    int input[2] = {-1, -1}, output[2] = {-1, -1}, error[2] = {-1, -1}, status[2] = {-1, -1};
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 || pipe2(error, O_CLOEXEC) != 0 ||
        pipe2(status, O_CLOEXEC) != 0) {
        result.StartError = std::string("pipe: ") + std::strerror(errno);
        for (int* fds : {input, output, error, status}) {
            CloseFd(fds[0]);
            CloseFd(fds[1]);
        }
        return result;
    }

    const int inputFile = run.InputPath.empty() ? -1 : open(run.InputPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (!run.InputPath.empty() && inputFile < 0) {
        result.StartError = "open " + run.InputPath + ": " + std::strerror(errno);
        for (int* fds : {input, output, error, status}) {
            CloseFd(fds[0]);
            CloseFd(fds[1]);
        }
        return result;
    }

    const char* directory = run.WorkingDirectory.empty() ? nullptr : run.WorkingDirectory.c_str();
    struct rlimit fileSizeLimit {};
    fileSizeLimit.rlim_cur = fileSizeLimit.rlim_max = static_cast<rlim_t>(run.FileSizeLimit);
    const std::vector<int>& closed = run.ClosedDescriptors;
    const pid_t pid = fork();
    if (pid == 0) {
        // Own process group, so a time-out also ends what the program started.
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // When this process runs with 0, 1 or 2 closed, a pipe may sit on one
        // of them; moving every end above 2 first keeps dup2 from clobbering.
        const int in = fcntl(inputFile >= 0 ? inputFile : input[0], F_DUPFD_CLOEXEC, 3);
        const int out = fcntl(output[1], F_DUPFD_CLOEXEC, 3);
        const int err = fcntl(error[1], F_DUPFD_CLOEXEC, 3);
        const int report = fcntl(status[1], F_DUPFD_CLOEXEC, 3);
        int failure = 0;
        if (in < 0 || out < 0 || err < 0 || report < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            failure = errno;
        } else if (std::any_of(closed.begin(), closed.end(), [](int fd) { return close(fd) != 0; })) {
            failure = errno;
        } else if (directory != nullptr && chdir(directory) != 0) {
            failure = errno;
        } else if (fileSizeLimit.rlim_cur != 0 && setrlimit(RLIMIT_FSIZE, &fileSizeLimit) != 0) {
            failure = errno;
        } else {
            execve(argv[0], argv.data(), envp.data());
            failure = errno;
        }
        ssize_t ignored = write(report >= 0 ? report : status[1], &failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }
    int ownInputFile = inputFile;
    CloseFd(ownInputFile);
    CloseFd(input[0]);
    CloseFd(output[1]);
    CloseFd(error[1]);
    CloseFd(status[1]);
    if (pid < 0) {
        result.StartError = std::string("fork: ") + std::strerror(errno);
        CloseFd(input[1]);
        CloseFd(output[0]);
        CloseFd(error[0]);
        CloseFd(status[0]);
        return result;
    }

    // The status pipe closes on a successful exec and carries errno otherwise.
    int failure = 0;
    ssize_t got;
    do {
        got = read(status[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    CloseFd(status[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        result.StartError = std::string(directory != nullptr ? "chdir/exec: " : "exec: ") + std::strerror(failure);
        CloseFd(input[1]);
        CloseFd(output[0]);
        CloseFd(error[0]);
        int ignored;
        waitpid(pid, &ignored, 0);
        return result;
    }
    result.Started = true;

    fcntl(input[1], F_SETFL, fcntl(input[1], F_GETFL) | O_NONBLOCK);
    size_t written = 0;
    if (run.Input.empty()) CloseFd(input[1]);
    const int64_t started = NowMs();
    const int64_t deadline = started + run.TimeoutMs;
    int interruptsLeft = InterruptsWanted(run) ? run.InterruptCount : 0;
    while (output[0] >= 0 || error[0] >= 0) {
        int64_t left = deadline - NowMs();
        if (left <= 0 && !result.TimedOut) {
            result.TimedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            CloseFd(input[1]);
        }
        if (result.TimedOut) left = 1000;  // killed: collect what is left, pipes close shortly
        pollfd fds[3];
        int count = 0;
        int* owners[3];
        for (int* fd : {&input[1], &output[0], &error[0]}) {
            if (*fd < 0) continue;
            fds[count].fd = *fd;
            fds[count].events = (fd == &input[1]) ? POLLOUT : POLLIN;
            fds[count].revents = 0;
            owners[count++] = fd;
        }
        // A timed interruption comes on time, not at the next output.
        int64_t wait = std::min<int64_t>(left, 100);
        if (interruptsLeft > 0 && run.InterruptWhen.empty())
            wait = std::max<int64_t>(0, std::min<int64_t>(wait, started + run.InterruptAfterMs - NowMs()));
        const int ready = poll(fds, count, static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < count && ready > 0; ++i) {
            if (fds[i].revents == 0) continue;
            int& fd = *owners[i];
            if (&fd == &input[1]) {
                const ssize_t n = write(fd, run.Input.data() + written, run.Input.size() - written);
                if (n > 0) written += static_cast<size_t>(n);
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == run.Input.size()) CloseFd(fd);
                continue;
            }
            char buffer[65536];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                (&fd == &output[0] ? result.Out : result.Err).append(buffer, static_cast<size_t>(n));
                if (run.CloseOutputEarly) {
                    CloseFd(output[0]);
                    CloseFd(error[0]);
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                CloseFd(fd);
            }
        }
        if (interruptsLeft > 0 && InterruptDue(run, result.Err, static_cast<uint64_t>(NowMs() - started))) {
            // One at a time: the program handles each before the next comes.
            kill(pid, run.InterruptSignal);
            if (--interruptsLeft > 0) {
                struct timespec pause = {static_cast<time_t>(run.InterruptIntervalMs / 1000),
                                         static_cast<long>(run.InterruptIntervalMs % 1000) * 1000 * 1000};
                nanosleep(&pause, nullptr);
            }
        }
        if (result.TimedOut && NowMs() > deadline + 5000) break;  // something else holds the pipes
    }
    CloseFd(input[1]);
    CloseFd(output[0]);
    CloseFd(error[0]);

    int wstatus = 0;
    // The program may still run after closing its output; the limit holds.
    for (;;) {
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        if (!result.TimedOut && NowMs() >= deadline) {
            result.TimedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
        }
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    if (WIFEXITED(wstatus)) {
        result.ExitCode = static_cast<uint32_t>(WEXITSTATUS(wstatus));
    } else if (WIFSIGNALED(wstatus)) {
        result.Signal = WTERMSIG(wstatus);
        result.ExitCode = 128u + static_cast<uint32_t>(result.Signal);
    }
    return result;
}

#endif

std::vector<std::string> OwnArguments() {
    std::vector<std::string> arguments;
#ifdef _WIN32
    for (int i = 1; i < __argc; ++i) arguments.emplace_back(__argv[i]);
#else
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t start = 0;
    bool first = true;
    for (size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
        if (!first) arguments.push_back(all.substr(start, end - start));
        first = false;
    }
#endif
    return arguments;
}

#ifdef _WIN32
namespace {

// The Unix path of a Windows path under Wine; a relative one only turned
// around.
std::string WineUnixPath(const std::string& path) {
    std::string unixPath = path;
    if (path.size() < 2 || path[1] != ':') {
        std::replace(unixPath.begin(), unixPath.end(), '\\', '/');
        return unixPath;
    }
    typedef char*(CDECL * UnixName)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    unixPath.clear();
    if (char* name = unixName ? unixName(std::filesystem::path(path).wstring().c_str()) : nullptr) {
        unixPath = name;
        HeapFree(GetProcessHeap(), 0, name);
    }
    return unixPath;
}

// Runs `command` in the shell of the Unix system under Wine, with the
// arguments as $0, $1, ...; Wine reports no end of a Unix process, so the
// command leaves a mark when it is done. False when it did not end.
bool RunUnixShell(const std::string& command, std::vector<std::string> arguments) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string mark = std::string(folder) + "tachoro-mark-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64());
    arguments.push_back(WineUnixPath(mark));
    std::vector<std::string> line = {"/bin/sh", "-c", command + "; : > \"${" + std::to_string(arguments.size() - 1) + "}\""};
    line.insert(line.end(), arguments.begin(), arguments.end());
    std::string text = WindowsCommandLine(line);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA("Z:\\bin\\sh", &text[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    std::error_code error;
    for (int wait = 0; wait < 200 && !std::filesystem::exists(mark, error); ++wait) Sleep(50);
    const bool ended = std::filesystem::remove(mark, error);
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    return ended;
}

}  // namespace
#endif

SymbolicLink::SymbolicLink(const std::string& target, const std::string& link) {
    std::error_code error;
#ifdef _WIN32
    if (RunningUnderWine()) {
        if (RunUnixShell("ln -s \"$0\" \"$1\"", {WineUnixPath(target), WineUnixPath(link)})) Link = link;
        return;
    }
#endif
    std::filesystem::create_symlink(target, link, error);
    if (!error) Link = link;
}

SymbolicLink::~SymbolicLink() {
    if (Link.empty()) return;
    std::error_code error;
#ifdef _WIN32
    if (RunningUnderWine()) {
        RunUnixShell("rm -f \"$0\"", {WineUnixPath(Link)});
        return;
    }
#endif
    std::filesystem::remove(Link, error);
}
