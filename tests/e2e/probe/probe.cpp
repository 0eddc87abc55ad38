// zal_probe: starts, drives and inspects Windows processes for the end-to-end suite, from inside the same
// Wine prefix. It reads one command per line on stdin and answers each with zero or more record lines
// "KIND key=value ..." followed by exactly one status line, "ok VERB" or "fail VERB reason=TEXT lasterror=N".
// Values on both sides are percent-encoded (%XX) wherever a byte is not printable ASCII, a blank or '%'.
// The probe's own clock (QueryPerformanceCounter) is the reference for every elapsed time it reports.
#include <windows.h>

#include <sddl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zal {
namespace {

constexpr DWORD DefaultTimeoutMs = 30000;

// A command that cannot be carried out; lastError is the system's code when there is one.
struct Failure {
    std::string reason;
    DWORD lastError;
};

[[noreturn]] void Fail(const std::string& reason, DWORD lastError = 0) {
    throw Failure{reason, lastError};
}

[[noreturn]] void FailLastError(const std::string& what) {
    Fail(what, GetLastError());
}

// ----- text encoding -------------------------------------------------------------------------------------

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Percent(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c <= 0x20 || c >= 0x7F || c == '%') {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Unpercent(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
            int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                Fail("bad percent escape in " + text);
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Num(long long value) {
    return std::to_string(value);
}

std::string HexNum(unsigned long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", value);
    return buffer;
}

std::string HandleText(const void* handle) {
    return HexNum(reinterpret_cast<uintptr_t>(handle));
}

std::string SystemMessage(DWORD code) {
    char* buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length ? std::string(buffer, length) : std::string();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// ----- output ----------------------------------------------------------------------------------------------

class Record {
public:
    explicit Record(const std::string& kind) : m_line(kind) {}

    Record& Add(const std::string& key, const std::string& value) {
        m_line += ' ' + key + '=' + Percent(value);
        return *this;
    }
    Record& Add(const std::string& key, long long value) { return Add(key, Num(value)); }
    // Texts come twice: readable, and as the exact bytes in hex for byte-for-byte comparisons.
    Record& Text(const std::string& key, const std::string& bytes) {
        Add(key, bytes);
        return Add(key + "_hex", Hex(bytes));
    }
    void Emit() const {
        std::fwrite(m_line.data(), 1, m_line.size(), stdout);
        std::fputc('\n', stdout);
    }

private:
    std::string m_line;
};

// ----- numbers and names ----------------------------------------------------------------------------------

const std::map<std::string, long long>& Names() {
    static const std::map<std::string, long long> names = {
        // messages
        {"WM_NULL", WM_NULL},
        {"WM_CLOSE", WM_CLOSE},
        {"WM_QUIT", WM_QUIT},
        {"WM_QUERYENDSESSION", WM_QUERYENDSESSION},
        {"WM_ENDSESSION", WM_ENDSESSION},
        {"WM_ACTIVATE", WM_ACTIVATE},
        {"WM_SETFOCUS", WM_SETFOCUS},
        {"WM_KILLFOCUS", WM_KILLFOCUS},
        {"WM_PAINT", WM_PAINT},
        {"WM_CANCELMODE", WM_CANCELMODE},
        {"WM_GETICON", WM_GETICON},
        {"WM_KEYDOWN", WM_KEYDOWN},
        {"WM_KEYUP", WM_KEYUP},
        {"WM_CHAR", WM_CHAR},
        {"WM_SYSKEYDOWN", WM_SYSKEYDOWN},
        {"WM_SYSKEYUP", WM_SYSKEYUP},
        {"WM_COMMAND", WM_COMMAND},
        {"WM_SYSCOMMAND", WM_SYSCOMMAND},
        {"WM_LBUTTONDOWN", WM_LBUTTONDOWN},
        {"WM_LBUTTONUP", WM_LBUTTONUP},
        {"WM_GETTEXTLENGTH", WM_GETTEXTLENGTH},
        {"BM_CLICK", BM_CLICK},
        {"BM_GETSTATE", BM_GETSTATE},
        // WM_SYSCOMMAND commands and WM_ENDSESSION flags
        {"SC_CLOSE", SC_CLOSE},
        {"SC_MINIMIZE", SC_MINIMIZE},
        {"SC_MAXIMIZE", SC_MAXIMIZE},
        {"SC_RESTORE", SC_RESTORE},
        {"SC_MOVE", SC_MOVE},
        {"SC_SIZE", SC_SIZE},
        {"ENDSESSION_LOGOFF", static_cast<long long>(ENDSESSION_LOGOFF)},
        // show commands
        {"SW_HIDE", SW_HIDE},
        {"SW_SHOWNORMAL", SW_SHOWNORMAL},
        {"SW_SHOWMINIMIZED", SW_SHOWMINIMIZED},
        {"SW_SHOWMAXIMIZED", SW_SHOWMAXIMIZED},
        {"SW_SHOWNOACTIVATE", SW_SHOWNOACTIVATE},
        {"SW_SHOW", SW_SHOW},
        {"SW_MINIMIZE", SW_MINIMIZE},
        {"SW_SHOWMINNOACTIVE", SW_SHOWMINNOACTIVE},
        {"SW_SHOWNA", SW_SHOWNA},
        {"SW_RESTORE", SW_RESTORE},
        {"SW_SHOWDEFAULT", SW_SHOWDEFAULT},
        // virtual keys
        {"VK_RETURN", VK_RETURN},
        {"VK_SPACE", VK_SPACE},
        {"VK_ESCAPE", VK_ESCAPE},
        {"VK_TAB", VK_TAB},
        {"VK_F4", VK_F4},
        {"VK_MENU", VK_MENU},
        {"VK_SHIFT", VK_SHIFT},
        {"VK_CONTROL", VK_CONTROL},
        // dialog button ids
        {"IDOK", IDOK},
        {"IDCANCEL", IDCANCEL},
        {"IDYES", IDYES},
        {"IDNO", IDNO},
    };
    return names;
}

// Decimal, 0x-hex (both may be negative) or one of the names above.
long long ParseNumber(const std::string& text) {
    auto named = Names().find(text);
    if (named != Names().end()) {
        return named->second;
    }
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i++] == '-';
    }
    int base = 10;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) {
        Fail("not a number: " + text);
    }
    unsigned long long value = 0;
    for (; i < text.size(); ++i) {
        int digit = HexDigit(text[i]);
        if (digit < 0 || digit >= base) {
            Fail("not a number: " + text);
        }
        value = value * base + digit;
    }
    return negative ? -static_cast<long long>(value) : static_cast<long long>(value);
}

// ----- command arguments ----------------------------------------------------------------------------------

class Args {
public:
    explicit Args(std::map<std::string, std::string> values) : m_values(std::move(values)) {}

    bool Has(const std::string& key) const { return m_values.count(key) != 0; }
    std::string Str(const std::string& key) const {
        auto found = m_values.find(key);
        if (found == m_values.end()) {
            Fail("missing " + key + "=");
        }
        return found->second;
    }
    std::string Str(const std::string& key, const std::string& fallback) const {
        return Has(key) ? Str(key) : fallback;
    }
    long long Int(const std::string& key) const { return ParseNumber(Str(key)); }
    long long Int(const std::string& key, long long fallback) const { return Has(key) ? Int(key) : fallback; }
    HWND Hwnd(const std::string& key) const {
        HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(Int(key)));
        if (!IsWindow(hwnd)) {
            Fail("no such window " + Str(key));
        }
        return hwnd;
    }
    DWORD Timeout() const { return static_cast<DWORD>(Int("timeout", DefaultTimeoutMs)); }

private:
    std::map<std::string, std::string> m_values;
};

// ----- clock and marks ------------------------------------------------------------------------------------

class Clock {
public:
    Clock() {
        QueryPerformanceFrequency(&m_frequency);
        m_marks["start"] = Now();
    }
    long long Now() const {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        return counter.QuadPart;
    }
    void Mark(const std::string& name) { m_marks[name] = Now(); }
    long long MarkOf(const std::string& name) const {
        auto found = m_marks.find(name);
        if (found == m_marks.end()) {
            Fail("no mark named " + name);
        }
        return found->second;
    }
    // Whole milliseconds, rounded down: a lower bound such as "not before 3000 ms" is never flattered.
    long long MsBetween(long long from, long long to) const {
        return (to - from) * 1000 / m_frequency.QuadPart;
    }
    long long MsSince(const std::string& name) const { return MsBetween(MarkOf(name), Now()); }
    long long TicksFromMs(long long ms) const { return ms * m_frequency.QuadPart / 1000; }

private:
    LARGE_INTEGER m_frequency;
    std::map<std::string, long long> m_marks;
};

// ----- processes ------------------------------------------------------------------------------------------

struct Process {
    DWORD pid = 0;
    DWORD tid = 0;
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
};

// ----- window reports -------------------------------------------------------------------------------------

std::string ClassOf(HWND hwnd) {
    char name[256] = {};
    int length = hwnd ? GetClassNameA(hwnd, name, sizeof name) : 0;
    return std::string(name, length > 0 ? length : 0);
}

// GetWindowTextA of another process's window returns the stored text without sending it a message, so
// reading a frozen window never blocks the probe.
std::string TextOf(HWND hwnd) {
    int length = GetWindowTextLengthA(hwnd);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(hwnd, &text[0], length + 1);
    text.resize(got > 0 ? got : 0);
    return text;
}

void AddRect(Record& record, const std::string& prefix, const RECT& rc) {
    record.Add(prefix + "x", rc.left).Add(prefix + "y", rc.top);
    record.Add(prefix + "w", rc.right - rc.left).Add(prefix + "h", rc.bottom - rc.top);
}

Record Describe(const std::string& kind, HWND hwnd) {
    Record record(kind);
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    HWND owner = GetWindow(hwnd, GW_OWNER);
    HWND parent = GetAncestor(hwnd, GA_PARENT);
    record.Add("hwnd", HandleText(hwnd)).Add("class", ClassOf(hwnd));
    record.Add("style", HexNum(static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE))));
    record.Add("exstyle", HexNum(static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE))));
    record.Add("id", static_cast<long long>(GetWindowLongPtrA(hwnd, GWLP_ID)));
    record.Add("owner", HandleText(owner)).Add("owner_class", ClassOf(owner));
    record.Add("parent", HandleText(parent == GetDesktopWindow() ? nullptr : parent));
    record.Add("pid", pid).Add("tid", tid);
    record.Text("text", TextOf(hwnd));
    RECT window = {};
    GetWindowRect(hwnd, &window);
    AddRect(record, "", window);
    RECT client = {};
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    AddRect(record, "c", client);
    record.Add("visible", IsWindowVisible(hwnd) ? 1 : 0).Add("enabled", IsWindowEnabled(hwnd) ? 1 : 0);
    record.Add("iconic", IsIconic(hwnd) ? 1 : 0).Add("zoomed", IsZoomed(hwnd) ? 1 : 0);
    record.Add("classstyle", HexNum(static_cast<DWORD>(GetClassLongPtrA(hwnd, GCL_STYLE))));
    return record;
}

struct WindowSearch {
    DWORD pid; // 0: windows of every process
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (search->pid == 0 || pid == search->pid) {
        search->found.push_back(hwnd);
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM data) {
    reinterpret_cast<WindowSearch*>(data)->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
    WindowSearch search{pid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> ChildWindows(HWND parent) {
    WindowSearch search{0, {}};
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsClass(HWND hwnd, const char* name) {
    return lstrcmpiA(ClassOf(hwnd).c_str(), name) == 0;
}

// The text of a message box: its static control that shows text rather than the icon.
std::string MessageBoxText(HWND box) {
    for (HWND child : ChildWindows(box)) {
        DWORD type = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE)) & SS_TYPEMASK;
        if (IsClass(child, "Static") && type != SS_ICON && type != SS_BITMAP && !TextOf(child).empty()) {
            return TextOf(child);
        }
    }
    return std::string();
}

// ----- the probe ------------------------------------------------------------------------------------------

class Probe {
public:
    using Handler = void (Probe::*)(const Args&);

    Probe() {
        m_handlers = {
            {"launch", &Probe::Launch},     {"status", &Probe::ProcessStatus},
            {"windows", &Probe::Windows},   {"waitwin", &Probe::WaitWin},
            {"window", &Probe::Window},     {"children", &Probe::Children},
            {"focus", &Probe::Focus},       {"icons", &Probe::Icons},
            {"post", &Probe::Post},         {"send", &Probe::Send},
            {"postkey", &Probe::PostKey},   {"setfg", &Probe::SetForeground},
            {"msgbox", &Probe::MsgBox},     {"dlgpress", &Probe::DlgPress},
            {"lock", &Probe::Lock},         {"unlock", &Probe::Unlock},
            {"mark", &Probe::Mark},         {"time", &Probe::Time},
            {"sleep", &Probe::SleepFor},    {"waitgone", &Probe::WaitGone},
            {"waitexit", &Probe::WaitExit}, {"kill", &Probe::Kill},
            {"metrics", &Probe::Metrics},   {"adjust", &Probe::Adjust},
            {"textsize", &Probe::TextSize}, {"rules", &Probe::Rules},
            {"hungpoll", &Probe::HungPoll},
        };
        // The fault suite's own verbs.
        m_handlers["errtext"] = &Probe::ErrText;
    }

    bool LastSucceeded() const { return m_lastSucceeded; }

    // Returns false when the session should end.
    bool Execute(const std::string& line) {
        m_lastSucceeded = false;
        std::vector<std::string> tokens;
        size_t pos = 0;
        while (pos < line.size()) {
            size_t end = line.find(' ', pos);
            if (end == std::string::npos) {
                end = line.size();
            }
            if (end > pos) {
                tokens.push_back(line.substr(pos, end - pos));
            }
            pos = end + 1;
        }
        if (tokens.empty() || tokens[0][0] == '#') {
            m_lastSucceeded = true;
            return true;
        }
        const std::string verb = tokens[0];
        try {
            std::map<std::string, std::string> values;
            for (size_t i = 1; i < tokens.size(); ++i) {
                size_t equals = tokens[i].find('=');
                if (equals == std::string::npos || equals == 0) {
                    Fail("expected key=value: " + tokens[i]);
                }
                values[tokens[i].substr(0, equals)] = Unpercent(tokens[i].substr(equals + 1));
            }
            Args args(std::move(values));
            if (verb == "quit" || verb == "reset") {
                Shutdown(args.Int("keep", 0) != 0);
                EmitStatus("ok " + verb);
                m_lastSucceeded = true;
                return verb != "quit";
            }
            auto handler = m_handlers.find(verb);
            if (handler == m_handlers.end()) {
                Fail("unknown command");
            }
            DelayIfAsked(args);
            (this->*handler->second)(args);
            EmitStatus("ok " + verb);
            m_lastSucceeded = true;
        } catch (const Failure& failure) {
            std::string status = "fail " + verb + " reason=" + Percent(failure.reason);
            if (failure.lastError) {
                status += " lasterror=" + Num(failure.lastError) +
                          " message=" + Percent(SystemMessage(failure.lastError));
            }
            EmitStatus(status);
        } catch (const std::exception& error) {
            EmitStatus("fail " + verb + " reason=" + Percent(error.what()));
        }
        return true;
    }

    void Shutdown(bool keep) {
        for (size_t i = 0; i < m_processes.size(); ++i) {
            Process& p = m_processes[i];
            if (!keep && WaitForSingleObject(p.process, 0) == WAIT_TIMEOUT) {
                TerminateProcess(p.process, 1);
                WaitForSingleObject(p.process, 10000);
                Record("terminated").Add("proc", static_cast<long long>(i + 1)).Add("pid", p.pid).Emit();
            }
            CloseHandle(p.process);
            CloseHandle(p.thread);
        }
        m_processes.clear();
        for (auto& lock : m_locks) {
            CloseHandle(lock.second);
        }
        m_locks.clear();
    }

private:
    static void EmitStatus(const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    // after=MS [since=MARK]: any command may wait until that many milliseconds after a mark (default: now).
    void DelayIfAsked(const Args& args) {
        if (!args.Has("after")) {
            return;
        }
        std::string since = args.Str("since", "");
        long long from = since.empty() ? m_clock.Now() : m_clock.MarkOf(since);
        long long due = from + m_clock.TicksFromMs(args.Int("after"));
        // Coarse sleeps first, then short ones, so the command starts within about a millisecond of due.
        for (long long now = m_clock.Now(); now < due; now = m_clock.Now()) {
            long long left = m_clock.MsBetween(now, due);
            Sleep(left > 20 ? static_cast<DWORD>(left - 10) : (left > 1 ? 1 : 0));
        }
        Record("at")
            .Add("since", since.empty() ? "now" : since)
            .Add("elapsed_ms", m_clock.MsBetween(from, m_clock.Now()))
            .Emit();
    }

    size_t ProcIndex(const Args& args) const {
        if (m_processes.empty()) {
            Fail("no process launched");
        }
        long long proc = args.Int("proc", static_cast<long long>(m_processes.size()));
        if (proc < 1 || proc > static_cast<long long>(m_processes.size())) {
            Fail("no process " + Num(proc));
        }
        return static_cast<size_t>(proc - 1);
    }
    const Process& Proc(const Args& args) const { return m_processes[ProcIndex(args)]; }

    // The probe's own environment with env='s NAME=VALUE lines (several separated by line feeds) put in
    // place of or beside the inherited ones, as an environment block for CreateProcessA.
    static std::vector<char> EnvironmentWith(const std::string& changes) {
        std::map<std::string, std::string> variables; // keyed by the upper-case name: names ignore case
        auto put = [&](const std::string& entry) {
            size_t equals = entry.find('=', 1); // "=C:=C:\dir" entries start with '='
            if (equals == std::string::npos) {
                return false;
            }
            std::string key = entry.substr(0, equals);
            for (char& c : key) {
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            }
            variables[key] = entry;
            return true;
        };
        if (char* block = GetEnvironmentStringsA()) {
            for (const char* entry = block; *entry; entry += std::strlen(entry) + 1) {
                put(entry);
            }
            FreeEnvironmentStringsA(block);
        }
        size_t pos = 0;
        while (pos <= changes.size()) {
            size_t end = changes.find('\n', pos);
            if (end == std::string::npos) {
                end = changes.size();
            }
            if (end > pos && !put(changes.substr(pos, end - pos))) {
                Fail("env= wants NAME=VALUE: " + changes.substr(pos, end - pos));
            }
            pos = end + 1;
        }
        std::vector<char> out;
        for (const auto& variable : variables) {
            out.insert(out.end(), variable.second.begin(), variable.second.end());
            out.push_back('\0');
        }
        out.push_back('\0');
        return out;
    }

    // launch cmdline=TEXT [app=PATH] [cwd=DIR] [show=SW_...] [out=FILE] [env=NAME=VALUE]
    // The command line reaches CreateProcessA byte for byte. Without show= the STARTUPINFO carries no flags
    // at all; out= gives the child NUL as input and FILE as its output and error streams; env= adds to or
    // changes the environment the child inherits.
    void Launch(const Args& args) {
        std::string commandLine = args.Str("cmdline");
        std::string app = args.Str("app", "");
        std::string cwd = args.Str("cwd", "");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (args.Has("show")) {
            startup.dwFlags |= STARTF_USESHOWWINDOW;
            startup.wShowWindow = static_cast<WORD>(args.Int("show"));
        }
        HANDLE input = INVALID_HANDLE_VALUE, output = INVALID_HANDLE_VALUE;
        BOOL inherit = FALSE;
        if (args.Has("out")) {
            SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
            input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                                0, nullptr);
            output = CreateFileA(args.Str("out").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE) {
                DWORD error = GetLastError();
                CloseHandle(input);
                CloseHandle(output);
                Fail("cannot open the output file", error);
            }
            startup.dwFlags |= STARTF_USESTDHANDLES;
            startup.hStdInput = input;
            startup.hStdOutput = output;
            startup.hStdError = output;
            inherit = TRUE;
        }
        std::vector<char> environment;
        if (args.Has("env")) {
            environment = EnvironmentWith(args.Str("env"));
        }
        std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
        mutableLine.push_back('\0');
        PROCESS_INFORMATION info = {};
        // Wine, loaded down, now and then fails a start with ERROR_INTERNAL_ERROR; that is no verdict on the
        // program started, so it is tried again, and the attempts are reported.
        BOOL created = FALSE;
        DWORD error = 0;
        int attempts = 0;
        do {
            if (attempts++) {
                Sleep(500);
            }
            created = CreateProcessA(app.empty() ? nullptr : app.c_str(), mutableLine.data(), nullptr,
                                     nullptr, inherit, 0, environment.empty() ? nullptr : environment.data(),
                                     cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
            error = GetLastError();
        } while (!created && error == ERROR_INTERNAL_ERROR && attempts < 3);
        if (input != INVALID_HANDLE_VALUE) {
            CloseHandle(input);
        }
        if (output != INVALID_HANDLE_VALUE) {
            CloseHandle(output);
        }
        if (!created) {
            Fail("CreateProcessA failed", error);
        }
        m_clock.Mark("launch");
        m_processes.push_back({info.dwProcessId, info.dwThreadId, info.hProcess, info.hThread});
        Record("process")
            .Add("proc", static_cast<long long>(m_processes.size()))
            .Add("pid", info.dwProcessId)
            .Add("tid", info.dwThreadId)
            .Add("attempts", attempts)
            .Emit();
    }

    // status [proc=N]: whether the process still runs, and its exit code once it has ended.
    void ProcessStatus(const Args& args) {
        size_t index = ProcIndex(args);
        const Process& p = m_processes[index];
        DWORD code = 0;
        GetExitCodeProcess(p.process, &code);
        bool running = WaitForSingleObject(p.process, 0) == WAIT_TIMEOUT;
        Record record("process");
        record.Add("proc", static_cast<long long>(index + 1)).Add("pid", p.pid).Add("tid", p.tid);
        record.Add("running", running ? 1 : 0);
        if (!running) {
            record.Add("code", static_cast<long long>(code));
        }
        record.Emit();
    }

    // windows [proc=N] [all=1]: every top-level window of the process (all=1: of every process).
    void Windows(const Args& args) {
        DWORD pid = args.Int("all", 0) ? 0 : Proc(args).pid;
        for (HWND hwnd : TopLevelWindows(pid)) {
            Describe("window", hwnd).Emit();
        }
    }

    HWND FindTopLevel(const Args& args, DWORD pid) const {
        bool anyClass = !args.Has("class");
        std::string className = args.Str("class", "");
        bool mustBeVisible = args.Int("visible", 0) != 0;
        for (HWND hwnd : TopLevelWindows(pid)) {
            if (!anyClass && ClassOf(hwnd) != className) {
                continue;
            }
            if (args.Has("text") && TextOf(hwnd) != args.Str("text")) {
                continue;
            }
            if (mustBeVisible && !IsWindowVisible(hwnd)) {
                continue;
            }
            return hwnd;
        }
        return nullptr;
    }

    // waitwin [proc=N] [class=NAME] [text=TEXT] [visible=1] [timeout=MS]: the first matching top-level
    // window of the process, waited for.
    void WaitWin(const Args& args) {
        const Process& p = Proc(args);
        long long start = m_clock.Now();
        for (;;) {
            if (HWND hwnd = FindTopLevel(args, p.pid)) {
                Describe("window", hwnd).Emit();
                return;
            }
            if (WaitForSingleObject(p.process, 0) != WAIT_TIMEOUT) {
                Fail("the process ended before the window appeared");
            }
            if (m_clock.MsBetween(start, m_clock.Now()) > args.Timeout()) {
                Fail("timeout");
            }
            Sleep(20);
        }
    }

    void Window(const Args& args) { Describe("window", args.Hwnd("hwnd")).Emit(); }

    // children hwnd=H: every descendant, parents before their children.
    void Children(const Args& args) {
        for (HWND child : ChildWindows(args.Hwnd("hwnd"))) {
            Describe("child", child).Emit();
        }
    }

    // focus [proc=N]: the keyboard focus (with defpush=1 when its style says BS_DEFPUSHBUTTON), the active
    // window and the capture of the process's first thread.
    void Focus(const Args& args) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(Proc(args).tid, &info)) {
            FailLastError("GetGUIThreadInfo failed");
        }
        Record record("focus");
        HWND focus = info.hwndFocus;
        DWORD style = focus ? static_cast<DWORD>(GetWindowLongPtrA(focus, GWL_STYLE)) : 0;
        record.Add("hwnd", HandleText(focus))
            .Add("class", ClassOf(focus))
            .Text("text", focus ? TextOf(focus) : "");
        record.Add("style", HexNum(style));
        // By style alone: a framework's button may be a push button under a window class of its own.
        record.Add("defpush", focus && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON ? 1 : 0);
        record.Add("active", HandleText(info.hwndActive)).Add("active_class", ClassOf(info.hwndActive));
        record.Add("capture", HandleText(info.hwndCapture)).Add("flags", HexNum(info.flags));
        HWND foreground = GetForegroundWindow();
        record.Add("foreground", HandleText(foreground)).Add("foreground_class", ClassOf(foreground));
        record.Emit();
    }

    // icons hwnd=H: the window's icons (WM_GETICON, with a short timeout) and its class icons.
    void Icons(const Args& args) {
        HWND hwnd = args.Hwnd("hwnd");
        auto ask = [&](WPARAM which) -> std::string {
            DWORD_PTR result = 0;
            if (!SendWithTimeout(hwnd, WM_GETICON, which, 0, 2000, result)) {
                return "error" + Num(GetLastError());
            }
            return HexNum(result);
        };
        // Wine gives another process's class icons as 0 with an error; that is told apart from no icon.
        auto classIcon = [&](int index) -> std::string {
            SetLastError(0);
            ULONG_PTR icon = GetClassLongPtrA(hwnd, index);
            return icon == 0 && GetLastError() != 0 ? "error" + Num(GetLastError()) : HexNum(icon);
        };
        Record record("icons");
        record.Add("hwnd", HandleText(hwnd)).Add("big", ask(ICON_BIG)).Add("small", ask(ICON_SMALL));
        record.Add("class_icon", classIcon(GCLP_HICON)).Add("class_icon_small", classIcon(GCLP_HICONSM));
        record.Emit();
    }

    // SendMessageTimeoutA as documented: failure is a zero return with an error (ERROR_TIMEOUT on timeout).
    // Wine also returns zero, with no error, when the window procedure's result is zero.
    static bool SendWithTimeout(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, DWORD timeout,
                                DWORD_PTR& result) {
        SetLastError(0);
        return SendMessageTimeoutA(hwnd, msg, wparam, lparam, SMTO_NORMAL, timeout, &result) != 0 ||
               GetLastError() == 0;
    }

    // post hwnd=H msg=M [wparam=W] [lparam=L] [mark=NAME]: PostMessageA; mark= is taken just before.
    void Post(const Args& args) {
        HWND hwnd = args.Hwnd("hwnd");
        if (args.Has("mark")) {
            m_clock.Mark(args.Str("mark"));
        }
        if (!PostMessageA(hwnd, static_cast<UINT>(args.Int("msg")),
                          static_cast<WPARAM>(args.Int("wparam", 0)),
                          static_cast<LPARAM>(args.Int("lparam", 0))))
            FailLastError("PostMessageA failed");
    }

    // send hwnd=H msg=M [wparam=W] [lparam=L] [timeout=MS] [mark=NAME]: SendMessageTimeoutA; reports the
    // window procedure's result.
    void Send(const Args& args) {
        HWND hwnd = args.Hwnd("hwnd");
        if (args.Has("mark")) {
            m_clock.Mark(args.Str("mark"));
        }
        DWORD_PTR result = 0;
        if (!SendWithTimeout(hwnd, static_cast<UINT>(args.Int("msg")),
                             static_cast<WPARAM>(args.Int("wparam", 0)),
                             static_cast<LPARAM>(args.Int("lparam", 0)), args.Timeout(), result))
            FailLastError("SendMessageTimeoutA failed or timed out");
        Record("sent").Add("result", static_cast<long long>(result)).Add("result_hex", HexNum(result)).Emit();
    }

    // postkey vk=KEY [hwnd=H] [alt=1] [mark=NAME]: posts a key press and release to a window (default: the
    // focus of the process), as the keyboard would queue them, so they pass through the target's own loop.
    void PostKey(const Args& args) {
        HWND hwnd = nullptr;
        if (args.Has("hwnd")) {
            hwnd = args.Hwnd("hwnd");
        } else {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            if (!GetGUIThreadInfo(Proc(args).tid, &info) || !info.hwndFocus) {
                Fail("the process has no focused window");
            }
            hwnd = info.hwndFocus;
        }
        UINT vk = static_cast<UINT>(args.Int("vk"));
        bool alt = args.Int("alt", 0) != 0;
        LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC)) << 16;
        LPARAM context = alt ? (1L << 29) : 0;
        LPARAM down = 1 | scan | context;
        LPARAM up = down | (1L << 30) | static_cast<LPARAM>(1UL << 31);
        if (args.Has("mark")) {
            m_clock.Mark(args.Str("mark"));
        }
        if (!PostMessageA(hwnd, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, down) ||
            !PostMessageA(hwnd, alt ? WM_SYSKEYUP : WM_KEYUP, vk, up))
            FailLastError("PostMessageA failed");
        Record("key").Add("hwnd", HandleText(hwnd)).Add("class", ClassOf(hwnd)).Add("vk", vk).Emit();
    }

    void SetForeground(const Args& args) {
        HWND hwnd = args.Hwnd("hwnd");
        Record("foreground").Add("result", SetForegroundWindow(hwnd) ? 1 : 0).Emit();
    }

    // msgbox [proc=N] [timeout=MS]: waits for a visible message box (#32770) of the process and reports its
    // caption, text, owner and buttons.
    void MsgBox(const Args& args) {
        const Process& p = Proc(args);
        long long start = m_clock.Now();
        for (;;) {
            for (HWND hwnd : TopLevelWindows(p.pid)) {
                if (ClassOf(hwnd) != "#32770" || !IsWindowVisible(hwnd)) {
                    continue;
                }
                Record record = Describe("msgbox", hwnd);
                record.Text("message", MessageBoxText(hwnd));
                record.Emit();
                for (HWND child : ChildWindows(hwnd))
                    if (IsClass(child, "Button")) {
                        Describe("button", child).Emit();
                    }
                return;
            }
            if (WaitForSingleObject(p.process, 0) != WAIT_TIMEOUT) {
                Fail("the process ended before a message box appeared");
            }
            if (m_clock.MsBetween(start, m_clock.Now()) > args.Timeout()) {
                Fail("timeout");
            }
            Sleep(20);
        }
    }

    // dlgpress hwnd=DIALOG [id=IDOK] [mark=NAME]: clicks a dialog's button the way the button itself
    // notifies its dialog.
    void DlgPress(const Args& args) {
        HWND dialog = args.Hwnd("hwnd");
        int id = static_cast<int>(args.Int("id", IDOK));
        HWND button = GetDlgItem(dialog, id);
        if (!button) {
            Fail("the dialog has no control " + Num(id));
        }
        if (args.Has("mark")) {
            m_clock.Mark(args.Str("mark"));
        }
        if (!PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button))) {
            FailLastError("PostMessageA failed");
        }
    }

    // lock path=FILE [access=r|rw]: opens the file with no sharing at all and holds it until unlock.
    void Lock(const Args& args) {
        std::string path = args.Str("path");
        std::string access = args.Str("access", "rw");
        DWORD rights = access == "r" ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
        HANDLE file =
            CreateFileA(path.c_str(), rights, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            FailLastError("CreateFileA failed");
        }
        int id = ++m_lastLock;
        m_locks[id] = file;
        Record("lock").Add("id", id).Add("path", path).Emit();
    }

    // unlock id=N | unlock all=1
    void Unlock(const Args& args) {
        if (args.Int("all", 0)) {
            for (auto& lock : m_locks) {
                CloseHandle(lock.second);
            }
            m_locks.clear();
            return;
        }
        auto found = m_locks.find(static_cast<int>(args.Int("id")));
        if (found == m_locks.end()) {
            Fail("no lock " + args.Str("id"));
        }
        CloseHandle(found->second);
        m_locks.erase(found);
    }

    void Mark(const Args& args) {
        std::string name = args.Str("name");
        m_clock.Mark(name);
        Record("mark").Add("name", name).Add("t_ms", m_clock.MsSince("start")).Emit();
    }

    // time [since=MARK]
    void Time(const Args& args) {
        Record record("time");
        record.Add("t_ms", m_clock.MsSince("start"));
        if (args.Has("since")) {
            record.Add("elapsed_ms", m_clock.MsSince(args.Str("since")));
        }
        record.Emit();
    }

    void SleepFor(const Args& args) { Sleep(static_cast<DWORD>(args.Int("ms"))); }

    // waitgone hwnd=H [since=MARK] [timeout=MS]: waits until the window is hidden or destroyed.
    void WaitGone(const Args& args) {
        // Not Args::Hwnd: a window destroyed before the command arrives is simply gone.
        HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(args.Int("hwnd")));
        std::string since = args.Str("since", "start");
        long long start = m_clock.Now();
        m_clock.MarkOf(since);
        for (;;) {
            bool exists = IsWindow(hwnd) != FALSE;
            if (!exists || !IsWindowVisible(hwnd)) {
                Record("gone")
                    .Add("how", exists ? "hidden" : "destroyed")
                    .Add("since", since)
                    .Add("elapsed_ms", m_clock.MsSince(since))
                    .Emit();
                return;
            }
            if (m_clock.MsBetween(start, m_clock.Now()) > args.Timeout()) {
                Fail("timeout");
            }
            Sleep(5);
        }
    }

    // hungpoll hwnd=H ms=MS: asks IsHungAppWindow every 100 ms for MS milliseconds, or until the window is
    // hidden or destroyed, whether the system takes the window for one that stopped responding, as it does
    // before it paints a ghost of it and offers to end its program.
    void HungPoll(const Args& args) {
        HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(args.Int("hwnd")));
        long long start = m_clock.Now();
        long long polls = 0, hung = 0, firstHungMs = -1;
        while (IsWindow(hwnd) && IsWindowVisible(hwnd) &&
               m_clock.MsBetween(start, m_clock.Now()) < args.Int("ms")) {
            ++polls;
            if (IsHungAppWindow(hwnd)) {
                if (hung++ == 0) {
                    firstHungMs = m_clock.MsBetween(start, m_clock.Now());
                }
            }
            Sleep(100);
        }
        Record("hungpoll").Add("polls", polls).Add("hung", hung).Add("first_hung_ms", firstHungMs).Emit();
    }

    // waitexit [proc=N] [since=MARK] [timeout=MS]: waits for the process to end; exit code and the time
    // since the mark.
    void WaitExit(const Args& args) {
        const Process& p = Proc(args);
        std::string since = args.Str("since", "launch");
        m_clock.MarkOf(since);
        DWORD wait = WaitForSingleObject(p.process, args.Timeout());
        if (wait == WAIT_TIMEOUT) {
            Fail("timeout");
        }
        if (wait != WAIT_OBJECT_0) {
            FailLastError("WaitForSingleObject failed");
        }
        long long elapsed = m_clock.MsSince(since);
        DWORD code = 0;
        GetExitCodeProcess(p.process, &code);
        Record("exit")
            .Add("code", static_cast<long long>(code))
            .Add("since", since)
            .Add("elapsed_ms", elapsed)
            .Emit();
    }

    // kill [proc=N] [code=N] (with after=MS since=MARK to time it): TerminateProcess.
    void Kill(const Args& args) {
        const Process& p = Proc(args);
        bool alreadyEnded = WaitForSingleObject(p.process, 0) != WAIT_TIMEOUT;
        if (!alreadyEnded && !TerminateProcess(p.process, static_cast<UINT>(args.Int("code", 1)))) {
            FailLastError("TerminateProcess failed");
        }
        WaitForSingleObject(p.process, 10000);
        DWORD code = 0;
        GetExitCodeProcess(p.process, &code);
        Record("killed")
            .Add("already_ended", alreadyEnded ? 1 : 0)
            .Add("code", static_cast<long long>(code))
            .Add("t_ms", m_clock.MsSince("start"))
            .Emit();
    }

    void Metrics(const Args&) {
        Record record("metrics");
        record.Add("cxscreen", GetSystemMetrics(SM_CXSCREEN)).Add("cyscreen", GetSystemMetrics(SM_CYSCREEN));
        HDC screen = GetDC(nullptr);
        record.Add("logpixelsx", GetDeviceCaps(screen, LOGPIXELSX))
            .Add("logpixelsy", GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
        RECT work = {};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        AddRect(record, "work", work);
        record.Add("cycaption", GetSystemMetrics(SM_CYCAPTION))
            .Add("cysmcaption", GetSystemMetrics(SM_CYSMCAPTION));
        record.Add("cxfixedframe", GetSystemMetrics(SM_CXFIXEDFRAME));
        record.Add("cyfixedframe", GetSystemMetrics(SM_CYFIXEDFRAME));
        record.Add("acp", GetACP()).Add("oemcp", GetOEMCP());
        record.Emit();
    }

    // adjust style=S exstyle=E w=CLIENT_W h=CLIENT_H: the outer size the system gives such a client area.
    void Adjust(const Args& args) {
        RECT rc = {0, 0, static_cast<LONG>(args.Int("w")), static_cast<LONG>(args.Int("h"))};
        if (!AdjustWindowRectEx(&rc, static_cast<DWORD>(args.Int("style")), FALSE,
                                static_cast<DWORD>(args.Int("exstyle", 0))))
            FailLastError("AdjustWindowRectEx failed");
        Record record("adjust");
        AddRect(record, "", rc);
        record.Emit();
    }

    // errtext code=N: the system's text for an error code (FormatMessageA), without its trailing line break.
    void ErrText(const Args& args) {
        DWORD code = static_cast<DWORD>(args.Int("code"));
        Record("errtext").Add("code", static_cast<long long>(code)).Text("text", SystemMessage(code)).Emit();
    }

    // Draws text in white on black with DrawTextA into a bitmap like the screen's, so that it is rasterised
    // as text on the screen is, and writes it to path as a binary PPM of the measured size.
    static void WriteInk(HDC screen, HFONT font, const std::string& text, UINT format, const RECT& rect,
                         const std::string& path) {
        int width = rect.right - rect.left, height = rect.bottom - rect.top;
        if (width <= 0 || height <= 0) {
            Fail("the text has no size");
        }
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
        HGDIOBJ oldFont = SelectObject(memory, font);
        RECT all = {0, 0, width, height};
        FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetBkMode(memory, TRANSPARENT);
        SetTextColor(memory, RGB(255, 255, 255));
        DrawTextA(memory, text.data(), static_cast<int>(text.size()), &all, format);
        SelectObject(memory, oldFont);
        SelectObject(memory, oldBitmap);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
        int rows = GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
        DeleteObject(bitmap);
        DeleteDC(memory);
        if (rows != height) {
            Fail("GetDIBits failed");
        }
        std::string ppm = "P6\n" + Num(width) + " " + Num(height) + "\n255\n";
        for (DWORD pixel : pixels) {
            ppm += static_cast<char>((pixel >> 16) & 0xFF);
            ppm += static_cast<char>((pixel >> 8) & 0xFF);
            ppm += static_cast<char>(pixel & 0xFF);
        }
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            FailLastError("cannot create " + path);
        }
        DWORD written = 0;
        BOOL ok = WriteFile(file, ppm.data(), static_cast<DWORD>(ppm.size()), &written, nullptr);
        CloseHandle(file);
        if (!ok || written != ppm.size()) {
            Fail("cannot write " + path);
        }
    }

    // textsize face=NAME height=H [weight=400] [charset=1] [text=0] [format=DT_LEFT|DT_EXPANDTABS]
    // [ink=FILE]: the text measured on the screen in a font made with CreateFontIndirectA from those fields
    // (the others zero): w and h by GetTextExtentPoint32A, dt_w and dt_h by DrawTextA with DT_CALCRECT added
    // to format. ink= also draws it, white on black, into FILE (PPM, dt_w x dt_h).
    void TextSize(const Args& args) {
        LOGFONTA logFont = {};
        logFont.lfHeight = static_cast<LONG>(args.Int("height"));
        logFont.lfWeight = static_cast<LONG>(args.Int("weight", FW_NORMAL));
        logFont.lfCharSet = static_cast<BYTE>(args.Int("charset", DEFAULT_CHARSET));
        std::string face = args.Str("face");
        if (face.size() >= sizeof logFont.lfFaceName) {
            Fail("face name too long");
        }
        std::memcpy(logFont.lfFaceName, face.c_str(), face.size() + 1);
        std::string text = args.Str("text", "0");
        UINT format = static_cast<UINT>(args.Int("format", DT_LEFT | DT_EXPANDTABS));
        HFONT font = CreateFontIndirectA(&logFont);
        if (!font) {
            FailLastError("CreateFontIndirectA failed");
        }
        HDC screen = GetDC(nullptr);
        HGDIOBJ old = SelectObject(screen, font);
        SIZE size = {};
        GetTextExtentPoint32A(screen, text.data(), static_cast<int>(text.size()), &size);
        RECT rect = {0, 0, 0, 0};
        DrawTextA(screen, text.data(), static_cast<int>(text.size()), &rect, format | DT_CALCRECT);
        TEXTMETRICA metrics = {};
        GetTextMetricsA(screen, &metrics);
        char actualFace[LF_FACESIZE] = {};
        GetTextFaceA(screen, sizeof actualFace, actualFace);
        SelectObject(screen, old);
        try {
            if (args.Has("ink")) {
                WriteInk(screen, font, text, format, rect, args.Str("ink"));
            }
        } catch (...) {
            ReleaseDC(nullptr, screen);
            DeleteObject(font);
            throw;
        }
        ReleaseDC(nullptr, screen);
        DeleteObject(font);
        Record record("textsize");
        record.Add("w", size.cx).Add("h", size.cy);
        record.Add("dt_w", rect.right - rect.left).Add("dt_h", rect.bottom - rect.top);
        record.Add("tm_height", metrics.tmHeight).Add("tm_internal", metrics.tmInternalLeading);
        record.Text("actual_face", actualFace);
        record.Emit();
    }

    // rules path=P: the access list of P's file, as SDDL.
    void Rules(const Args& args) {
        const std::string path = args.Str("path");
        DWORD needed = 0;
        GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
        std::string descriptor(needed, '\0');
        char* text = nullptr;
        if (needed == 0 ||
            !GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed) ||
            !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
            FailLastError("cannot read the access rules of " + path);
        }
        Record("rules").Add("path", path).Add("sddl", text).Emit();
        LocalFree(text);
    }

    Clock m_clock;
    std::map<std::string, Handler> m_handlers;
    std::vector<Process> m_processes;
    std::map<int, HANDLE> m_locks;
    int m_lastLock = 0;
    bool m_lastSucceeded = true;
};

} // namespace
} // namespace zal

// With arguments, each is one command, run in order, and the probe exits (1 if any failed), leaving what
// it started running; without, commands come from stdin.
int main(int argc, char** argv) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    // The protocol owns stdin and stdout. Console programs the probe starts would otherwise be handed them,
    // read commands meant for the probe and write into its answers, so the process's standard handles,
    // which children receive, become NUL; the C runtime keeps the real ones.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, OPEN_EXISTING, 0, nullptr);
    if (nul != INVALID_HANDLE_VALUE) {
        SetStdHandle(STD_INPUT_HANDLE, nul);
        SetStdHandle(STD_OUTPUT_HANDLE, nul);
        SetStdHandle(STD_ERROR_HANDLE, nul);
    }
    zal::Probe probe;
    if (argc > 1) {
        bool allSucceeded = true;
        for (int i = 1; i < argc && probe.Execute(argv[i]); ++i) {
            allSucceeded = allSucceeded && probe.LastSucceeded();
        }
        probe.Shutdown(true);
        return allSucceeded ? 0 : 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    std::string line;
    int c;
    // End of input ends the session as quit does: whatever the probe started or holds is let go.
    while ((c = std::fgetc(stdin)) != EOF) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!probe.Execute(line)) {
            return 0;
        }
        line.clear();
    }
    if (!line.empty() && !probe.Execute(line)) {
        return 0;
    }
    probe.Shutdown(false);
    return 0;
}
