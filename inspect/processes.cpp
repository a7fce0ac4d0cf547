#include "inspect.h"

#include <tlhelp32.h>

#include "client_layout.h"
#include "text16.h"
#include "window_model.h"

namespace {

constexpr WCHAR kClientImage[] = CLIENT_TEXT16(CLIENT_EXE_NAME);

void add_pid(std::vector<client_process>* clients, DWORD pid, const WCHAR* image) {
    for (client_process& p : *clients) {
        if (p.pid != pid) continue;
        if (!p.image[0] && image) text16_copy(p.image, image, 259);
        return;
    }
    client_process p{};
    p.pid = pid;
    if (image) text16_copy(p.image, image, 259);
    clients->push_back(p);
}

// The image names of every process, to name the client's and to find a
// client whose windows carry none of the names chatdraft looks for.
void add_processes_named_client(std::vector<client_process>* clients) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const WCHAR* image = reinterpret_cast<const WCHAR*>(entry.szExeFile);
        if (text16_equal_ascii_nocase(image, kClientImage))
            add_pid(clients, entry.th32ProcessID, image);
        else
            for (client_process& p : *clients)
                if (p.pid == entry.th32ProcessID && !p.image[0]) text16_copy(p.image, image, 259);
    }
    CloseHandle(snapshot);
}

BOOL CALLBACK add_owner_cb(HWND hwnd, LPARAM param) {
    if (!is_client_class(hwnd)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    add_pid(reinterpret_cast<std::vector<client_process>*>(param), pid, nullptr);
    return TRUE;
}

}  // namespace

std::vector<client_process> find_client_processes() {
    std::vector<client_process> clients;
    enum_client_windows(add_owner_cb, reinterpret_cast<LPARAM>(&clients));
    add_processes_named_client(&clients);
    return clients;
}

bool is_client_pid(const std::vector<client_process>& clients, DWORD pid) {
    for (const client_process& p : clients)
        if (p.pid == pid) return true;
    return false;
}

namespace {

struct top_level_list {
    const std::vector<client_process>* clients;
    std::vector<HWND> windows;
};

BOOL CALLBACK collect_top_level_cb(HWND hwnd, LPARAM param) {
    auto* list = reinterpret_cast<top_level_list*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (is_client_pid(*list->clients, pid)) list->windows.push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> client_top_level_windows(const std::vector<client_process>& clients) {
    top_level_list list{&clients, {}};
    EnumWindows(collect_top_level_cb, reinterpret_cast<LPARAM>(&list));
    return list.windows;
}
