// standin.exe <scenario_file> <log_file>: builds the windows the scenario
// describes, logs them, writes `ready` and serves its message loop.
// standin.exe --tree <window_tree_file> <log_file> builds them from a
// window tree dumped by chatdraft_inspect.exe instead.
#include "standin.h"

#include <cstdio>
#include <cwchar>

namespace {

constexpr UINT kForegroundPollMs = 20;

HANDLE open_log(const WCHAR* path)
{
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void log_failure(const char* what, const std::wstring& detail)
{
    log_line line = log_begin("error");
    log_word(line, "stage", what);
    log_text(line, "what", detail);
    log_emit(line);
}

// Another process reads a class name through its atom, and an atom keeps the
// letter case it was first added with. Adding a scenario's own spelling of a
// RichEdit class before the DLLs register theirs makes the boxes read that way.
// The atom is let go once the classes hold it, so the spelling ends with
// this process and does not outlive it in the wineserver.
ATOM claim_class_spelling(const WCHAR* system_name)
{
    auto other_spelling = [&](const std::wstring& cls) {
        return cls != system_name && lstrcmpiW(cls.c_str(), system_name) == 0;
    };
    for (const room_entry& room : state().scene.rooms) {
        if (other_spelling(room.options.input_class)) return GlobalAddAtomW(room.options.input_class.c_str());
    }
    // A tree names the class as the client's system spelled it, which may
    // differ from the spelling of Wine's DLL: claimed in any case.
    for (const tree_window& w : state().tree.windows) {
        if (lstrcmpiW(w.cls.c_str(), system_name) == 0) return GlobalAddAtomW(w.cls.c_str());
    }
    return 0;
}

bool load_rich_edit()
{
    ATOM fifty = claim_class_spelling(L"RICHEDIT50W");
    ATOM twenty = claim_class_spelling(L"RichEdit20W");
    state().msftedit = LoadLibraryW(L"msftedit.dll");
    state().riched20 = LoadLibraryW(L"riched20.dll");
    if (fifty) GlobalDeleteAtom(fifty);
    if (twenty) GlobalDeleteAtom(twenty);
    return state().msftedit && state().riched20;
}

void log_ready()
{
    log_line line = log_begin("ready");
    log_u64(line, "pid", GetCurrentProcessId());
    log_emit(line);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool tree = argc >= 2 && wcscmp(argv[1], L"--tree") == 0;
    if (argc < 3 || (tree && argc < 4)) {
        fputs("Usage: standin.exe <scenario_file> <log_file>\n"
              "       standin.exe --tree <window_tree_file> <log_file>\n", stderr);
        return 2;
    }
    const WCHAR* source = argv[tree ? 2 : 1];
    HANDLE log_file = open_log(argv[tree ? 3 : 2]);
    if (log_file == INVALID_HANDLE_VALUE) return 2;
    log_open(log_file, GetTickCount64());
    log_line start = log_begin("start");
    log_u64(start, "pid", GetCurrentProcessId());
    log_emit(start);

    standin_state& s = state();
    std::wstring error;
    s.tree_mode = tree;
    if (tree && !load_tree(source, s.tree, error)) { log_failure("tree", error); return 2; }
    if (!tree && !load_scenario(source, s.scene, error)) { log_failure("scenario", error); return 2; }
    if (tree) read_tree_roles();
    s.instance = GetModuleHandleW(nullptr);
    InitializeCriticalSection(&s.lock);
    s.ready_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!s.ready_event || !load_rich_edit() || !register_classes()) { log_failure("setup", L"rich edit or classes"); return 3; }
    if (!create_start_windows()) { log_failure("windows", L"a window could not be created"); return 3; }

    poll_foreground(true);
    s.poll_timer = SetTimer(nullptr, 0, kForegroundPollMs, nullptr);
    if (s.scene.exit_after_ms) s.exit_timer = SetTimer(nullptr, 0, s.scene.exit_after_ms, nullptr);
    log_ready();
    SetEvent(s.ready_event);
    run_message_loop();
    return 0;
}
