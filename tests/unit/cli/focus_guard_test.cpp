// The focus guard's decisions: which window is the client's, when to hand
// the focus back, and what to restore of a _NET_WM_USER_TIME it set to 0.
#include <gtest/gtest.h>

#include "focus_guard.h"

namespace {

const std::vector<long> kClient = {4242, 5151};

TEST(FocusGuard, TellsTheClientsWindowsByTheirProcess) {
    struct row {
        const char* name;
        bool replied;
        uint8_t format;
        uint32_t items;
        uint32_t value;
        bool client;
    };
    const row rows[] = {
        {"the client's pid", true, 32, 1, 4242, true},
        {"its second process", true, 32, 1, 5151, true},
        {"another process", true, 32, 1, 4243, false},
        {"no _NET_WM_PID (a frame, a window not yet described)", false, 0, 0, 0, false},
        {"pid 0", true, 32, 1, 0, false},
        {"a pid of the wrong format", true, 8, 1, 4242, false},
        {"an empty property", true, 32, 0, 4242, false},
    };
    for (const row& r : rows)
        EXPECT_EQ(r.client, is_client_pid(card_from_reply(r.replied, r.format, r.items, r.value), kClient))
            << r.name;
    EXPECT_FALSE(is_client_pid({true, 4242}, {})) << "no client process found";
}

TEST(FocusGuard, HandsBackOnlyWhatTheClientTookFromThePerson) {
    constexpr x_window person = 0x600001, editor = 0x600005, room = 0x800010, main_window = 0x800002;
    const focus_holders person_holds{person, editor, false, false};
    struct row {
        const char* name;
        focus_holders before, now;
        bool active, focus;
    };
    const row rows[] = {
        {"nothing moved", person_holds, person_holds, false, false},
        {"the room took both", person_holds, {room, room, true, true}, true, true},
        {"the room is active, the keys still go to the person", person_holds,
         {room, editor, true, false}, true, false},
        {"the keys went to the room, the manager still names the person", person_holds,
         {person, room, false, true}, false, true},
        {"another program took it", person_holds, {0x900001, 0x900001, false, false}, false, false},
        {"the client held it before", {main_window, main_window, true, true}, {room, room, true, true},
         false, false},
        {"the client held the keys before", {person, main_window, false, true}, {room, room, true, true},
         false, false},
        {"no window held it before", {0, 0, false, false}, {room, room, true, true}, false, false},
        {"only the X focus was held, by a window without manager", {0, editor, false, false},
         {0, room, false, true}, false, true},
    };
    for (const row& r : rows) {
        const handback back = handback_for(r.before, r.now);
        EXPECT_EQ(r.active, back.active) << r.name;
        EXPECT_EQ(r.focus, back.focus) << r.name;
    }
}

TEST(FocusGuard, RestoresOnlyWhatItsOwnZeroStillStandsFor) {
    const card_property absent{}, zero{true, 0}, old_time{true, 1000}, real_time{true, 2000};
    struct row {
        const char* name;
        card_property before, now;
        restore_action action;
    };
    const row rows[] = {
        {"absent before: removed", absent, zero, restore_action::remove},
        {"a time before: put back", old_time, zero, restore_action::put_back},
        {"0 before: nothing to do", zero, zero, restore_action::leave},
        {"the client wrote a real time meanwhile", absent, real_time, restore_action::leave},
        {"the client wrote a real time over an older one", old_time, real_time, restore_action::leave},
        {"someone removed it meanwhile", old_time, absent, restore_action::leave},
    };
    for (const row& r : rows) EXPECT_EQ(r.action, restore_for(r.before, r.now)) << r.name;
}

}  // namespace
