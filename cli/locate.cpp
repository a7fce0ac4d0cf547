#include "locate.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../src/client_layout.h"
#include "command.h"
#include "files.h"

namespace {

constexpr size_t kArchHeadBytes = 4096;  // "#arch=" stands in the first lines of system.reg

// A running client process of this user, as its environment tells.
struct client_process {
    long pid;
    std::string prefix;
    std::string tmpdir;
};

bool is_file(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string home_dir() {
    const char* home = getenv("HOME");
    if (home && *home) return home;
    const passwd* pw = getpwuid(getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

// Splits a NUL-separated /proc list (cmdline, environ).
std::vector<std::string> split_nul(const std::string& text) {
    std::vector<std::string> items;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\0', start);
        items.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return items;
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool equals_nocase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// Wine names a Windows process by its program; just after the start the
// loader may still stand first.
bool names_client(const std::vector<std::string>& args) {
    if (args.empty()) return false;
    if (equals_nocase(base_name(args[0]), CLIENT_EXE_NAME)) return true;
    const std::string first = base_name(args[0]);
    const bool loader = first.rfind("wine", 0) == 0;
    return loader && args.size() > 1 && equals_nocase(base_name(args[1]), CLIENT_EXE_NAME);
}

std::string env_value(const std::vector<std::string>& environ_items, const char* name) {
    const size_t length = strlen(name);
    for (const std::string& item : environ_items)
        if (item.size() > length && item.compare(0, length, name) == 0 && item[length] == '=')
            return item.substr(length + 1);
    return "";
}

bool owned_by_me(const std::string& proc_dir) {
    struct stat st {};
    return stat(proc_dir.c_str(), &st) == 0 && st.st_uid == getuid();
}

// Calls `visit` for each process of this user but this one, by its /proc folder.
template <typename Visit>
void for_each_own_process(Visit visit) {
    DIR* proc = opendir("/proc");
    if (!proc) return;
    const long self = getpid();
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self) continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        if (owned_by_me(dir) && !visit(pid, dir)) break;
    }
    closedir(proc);
}

client_process client_of(long pid, const std::vector<std::string>& env) {
    std::string prefix = env_value(env, "WINEPREFIX");
    if (prefix.empty()) {
        const std::string home = env_value(env, "HOME");
        prefix = (home.empty() ? home_dir() : home) + "/.wine";
    }
    char real[PATH_MAX];
    if (realpath(prefix.c_str(), real)) prefix = real;
    const std::string tmpdir = env_value(env, "TMPDIR");
    return {pid, prefix, tmpdir.empty() ? "/tmp" : tmpdir};
}

// Calls visit(client) for each running client process of this user, in
// process-id order, while it returns true.
template <typename Visit>
void for_each_client(Visit visit) {
    for_each_own_process([&](long pid, const std::string& dir) {
        std::string text;
        if (!read_file(dir + "/cmdline", &text) || !names_client(split_nul(text))) return true;
        if (!read_file(dir + "/environ", &text)) return true;
        return visit(client_of(pid, split_nul(text)));
    });
}

// The running clients of this user, one a prefix, in process-id order.
std::vector<client_process> find_clients() {
    std::vector<client_process> clients;
    for_each_client([&](const client_process& client) {
        for (const client_process& seen : clients)
            if (seen.prefix == client.prefix) return true;
        clients.push_back(client);
        return true;
    });
    return clients;
}

// The server folder's path below TMPDIR: the name Debian's Wine keeps in the
// prefix's "wineserver" file, then "server-DEV-INODE" of the prefix.
std::string server_folder(const std::string& prefix) {
    std::string name;
    // Without Debian's file, Wine's own default: .wine-UID below /tmp.
    if (!read_file(prefix + "/wineserver", &name, PATH_MAX)) name = ".wine-" + std::to_string(getuid());
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    struct stat st {};
    if (name.empty() || name.find('/') != std::string::npos || stat(prefix.c_str(), &st) != 0)
        return "";
    char server[64];
    snprintf(server, sizeof server, "/server-%llx-%llx",
             static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino));
    return name + server;
}

bool has_server_socket(const std::string& tmpdir, const std::string& folder) {
    struct stat st {};
    return stat((tmpdir + "/" + folder + "/socket").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// The folder above "<name>/server-..." that a running wineserver of this
// prefix works in (a wineserver's working folder is its server folder).
std::string tmpdir_of_running_server(const std::string& folder) {
    const std::string tail = "/" + folder;
    std::string found;
    for_each_own_process([&](long, const std::string& dir) {
        char cwd[PATH_MAX];
        const ssize_t n = readlink((dir + "/cwd").c_str(), cwd, sizeof cwd - 1);
        if (n <= 0) return true;
        const std::string path(cwd, static_cast<size_t>(n));
        if (path.size() <= tail.size() || path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
            return true;
        found = path.substr(0, path.size() - tail.size());
        return false;
    });
    return found;
}

// A Wine process started under another TMPDIR than the client's starts a
// second wineserver and sees none of the client's windows: the exe runs under
// the TMPDIR that holds the running server's socket.
std::string find_server_tmpdir(const std::string& prefix, const client_process* client) {
    const std::string folder = server_folder(prefix);
    if (folder.empty()) return "";
    std::vector<std::string> candidates;
    if (client) candidates.push_back(client->tmpdir);
    candidates.push_back(caller_tmpdir());
    candidates.push_back("/tmp");
    for (const std::string& dir : candidates)
        if (has_server_socket(dir, folder)) return dir;
    return tmpdir_of_running_server(folder);
}

std::string client_list(const std::vector<client_process>& clients) {
    std::string out;
    for (const client_process& c : clients)
        out += (out.empty() ? "" : ", ") + c.prefix + " (process " + std::to_string(c.pid) + ")";
    return out;
}

// Discovery: more than one running client is a choice for the caller, never ours.
bool discover_prefix(wine_setup* setup, client_process* client, bool* have_client,
                     std::string* prefix, std::string* error) {
    const std::vector<client_process> clients = find_clients();
    if (clients.size() > 1) {
        *error = CLIENT_EXE_NAME " runs in more than one Wine prefix: " + client_list(clients) +
                 "; choose one with --prefix";
        return false;
    }
    if ((*have_client = clients.size() == 1)) {
        *client = clients[0];
        *prefix = client->prefix;
        setup->prefix_origin = "the running " CLIENT_EXE_NAME ", process " + std::to_string(client->pid);
    } else {
        *prefix = home_dir() + "/.wine";
        setup->prefix_origin = "~/.wine";
    }
    return true;
}

// Wine refuses a prefix that is not the caller's own; so do we, before
// starting anything.
bool check_prefix(const std::string& prefix, wine_setup* setup, std::string* error) {
    char real[PATH_MAX];
    struct stat st {};
    if (prefix.empty() || !realpath(prefix.c_str(), real) || !is_file(std::string(real) + "/system.reg") ||
        stat(real, &st) != 0) {
        *error = "no Wine prefix at '" + prefix + "' (from " + setup->prefix_origin + ")";
        return false;
    }
    if (st.st_uid != getuid()) {
        *error = std::string("the Wine prefix ") + real + " belongs to another user";
        return false;
    }
    setup->prefix = real;
    return true;
}

bool resolve_prefix(const command_line& cmd, wine_setup* setup, client_process* client,
                    bool* have_client, std::string* error) {
    std::string prefix;
    const char* wineprefix = getenv("WINEPREFIX");
    if (cmd.prefix) {
        prefix = *cmd.prefix;
        setup->prefix_origin = "--prefix";
    } else if (wineprefix && *wineprefix) {
        prefix = wineprefix;
        setup->prefix_origin = "WINEPREFIX";
    } else if (!discover_prefix(setup, client, have_client, &prefix, error)) {
        return false;
    }
    return check_prefix(prefix, setup, error);
}

// A WINEARCH the prefix is not made for ends Wine before the exe starts.
bool check_winearch(const wine_setup& setup, std::string* error) {
    const char* arch = getenv("WINEARCH");
    if (!arch || !*arch) return true;
    const std::string want = setup.win32 ? "win32" : "win64";
    if (arch == want) return true;
    *error = std::string("WINEARCH=") + arch + " in the environment, but " + setup.prefix + " is a " +
             (setup.win32 ? "32" : "64") + "-bit prefix: unset WINEARCH";
    return false;
}

// A system.reg that cannot be read would pass for a 64-bit prefix.
bool read_prefix_arch(wine_setup* setup, std::string* error) {
    std::string head;
    const std::string path = setup->prefix + "/system.reg";
    if (!read_file(path, &head, kArchHeadBytes)) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    setup->win32 = head.find("\n#arch=win32") != std::string::npos;
    return true;
}

std::string search_path(const char* program) {
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        char real[PATH_MAX];
        // Made absolute: the exe starts in the run's own folder.
        if (is_file(candidate) && access(candidate.c_str(), X_OK) == 0 && realpath(candidate.c_str(), real))
            return real;
        start = end + 1;
    }
    return "";
}

// Debian keeps the loaders in /usr/lib/wine and puts only `wine` on PATH;
// there `wine` is a script that picks the 32-bit loader when it is installed.
std::string find_loader(bool win32) {
    const std::vector<std::pair<const char*, bool>> choices =
        win32 ? std::vector<std::pair<const char*, bool>>{{"/usr/lib/wine/wine", false}, {"wine", true}}
              : std::vector<std::pair<const char*, bool>>{
                    {"wine64", true}, {"/usr/lib/wine/wine64", false}, {"wine", true}};
    for (const auto& [name, on_path] : choices) {
        const std::string path = on_path ? search_path(name) : (is_file(name) ? name : "");
        if (!path.empty() && access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

std::string own_dir() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    const std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/'));
}

bool find_exe(const command_line& cmd, bool win32, std::string* exe, std::string* error) {
    const char* name = win32 ? "chatdraft32.exe" : "chatdraft.exe";
    char real[PATH_MAX];
    if (cmd.exe) {
        // Made absolute: the exe runs in the run's own folder.
        if (is_file(*cmd.exe) && realpath(cmd.exe->c_str(), real)) {
            *exe = real;
            return true;
        }
        *error = "no chatdraft.exe at '" + *cmd.exe + "' (from --exe)";
        return false;
    }
    std::vector<std::string> places = {own_dir() + "/../lib/chatdraft/" + name};
#ifdef CHATDRAFT_BUILD_TREE_EXE64
    places.push_back(win32 ? CHATDRAFT_BUILD_TREE_EXE32 : CHATDRAFT_BUILD_TREE_EXE64);
#endif
    for (const std::string& place : places) {
        if (is_file(place) && realpath(place.c_str(), real)) {
            *exe = real;
            return true;
        }
    }
    *error = std::string("no ") + name + " found (looked in " + places[0] +
             (places.size() > 1 ? " and " + places[1] : "") + "); name one with --exe";
    return false;
}

}  // namespace

// Made absolute: the exe runs in a folder below it, and Wine resolves its
// server's folder against it.
std::string caller_tmpdir() {
    const char* tmpdir = getenv("TMPDIR");
    if (!tmpdir || !*tmpdir) return "/tmp";
    char real[PATH_MAX];
    return realpath(tmpdir, real) ? real : tmpdir;
}

bool locate_wine(const command_line& cmd, wine_setup* setup, std::string* error) {
    client_process client;
    bool have_client = false;
    if (!resolve_prefix(cmd, setup, &client, &have_client, error)) return false;
    if (!read_prefix_arch(setup, error) || !check_winearch(*setup, error)) return false;
    setup->loader = find_loader(setup->win32);
    if (setup->loader.empty()) {
        *error = setup->win32 ? "Wine's 32-bit loader is not installed (wine32)"
                              : "Wine is not installed (no wine64 on PATH or in /usr/lib/wine)";
        return false;
    }
    if (!find_exe(cmd, setup->win32, &setup->exe, error)) return false;
    // Without its wineserver no client runs there, and Wine would first make
    // or update the prefix: nothing is started.
    setup->server_tmpdir = find_server_tmpdir(setup->prefix, have_client ? &client : nullptr);
    if (setup->server_tmpdir.empty()) {
        *error = "no client is running in " + setup->prefix;
        return false;
    }
    return true;
}

std::vector<long> client_pids(const std::string& prefix) {
    std::vector<long> pids;
    for_each_client([&](const client_process& client) {
        if (client.prefix == prefix) pids.push_back(client.pid);
        return true;
    });
    return pids;
}
