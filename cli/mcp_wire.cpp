#include "mcp_wire.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>

using nlohmann::json;

namespace {

// Hands out the line that ends at pending[end], unless it is being skipped.
bool take_line(line_reader* r, size_t end, std::string* line) {
    const bool keep = !r->skipping && end <= kMaxLineBytes;
    if (keep) {
        line->assign(r->pending, 0, end);
        if (!line->empty() && line->back() == '\r') line->pop_back();
    }
    r->pending.erase(0, end + 1);
    r->scanned = 0;
    r->skipping = false;
    return keep;
}

}  // namespace

line_read read_line(line_reader* r, std::string* line) {
    char chunk[65536];
    for (;;) {
        const size_t lf = r->pending.find('\n', r->scanned);
        if (lf != std::string::npos) {
            const bool too_long = !r->skipping && lf > kMaxLineBytes;
            if (take_line(r, lf, line)) return line_read::line;
            if (too_long) return line_read::too_long;
            continue;
        }
        r->scanned = r->pending.size();
        if (r->pending.size() > kMaxLineBytes) {
            const bool first = !r->skipping;
            r->pending.clear();
            r->scanned = 0;
            r->skipping = true;
            if (first) return line_read::too_long;
        }
        const ssize_t n = read(r->fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) {
            r->pending.append(chunk, static_cast<size_t>(n));
            continue;
        }
        // The last line may lack its LF.
        if (r->skipping || r->pending.empty()) return line_read::end;
        take_line(r, r->pending.size(), line);
        return line_read::line;
    }
}

bool send_message(const json& message) {
    static std::mutex output;
    std::string text = message.dump(-1, ' ', false, json::error_handler_t::replace);
    text += '\n';
    const std::lock_guard<std::mutex> hold(output);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

json error_message(const json& id, int code, const std::string& text) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", text}}}};
}

json result_message(const json& id, json result) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

json request_message(const std::string& id, const char* method, json params) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
}

json notification(const char* method, json params) {
    return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}
