#include "probe.h"

#include <cstdlib>

#include "documents.h"
#include "edit_box.h"
#include "window_model.h"

int run_probe(FILE* out) {
    static constexpr WCHAR empty[] = {0};
    main_window_info info{};
    room_match_set set{};
    find_main_and_chat_windows(&info, &set);
    write_probe_head(out, info.main_hwnd, info.kakao_pid, detect_login_state(&info));
    for (int32_t i = 0; i < set.count; ++i) {
        const room_candidate& room = set.candidates[i];
        // The box is read before its entry is written, and released right after.
        WCHAR* draft = get_edit_text_alloc(room.input_hwnd);
        if (i > 0) write_probe_separator(out);
        write_probe_room(out, room.hwnd, room.input_hwnd, room.title, draft ? draft : empty);
        free(draft);
    }
    write_probe_tail(out);
    return 0;
}
