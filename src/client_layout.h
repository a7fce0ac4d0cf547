// The chat client's windows as chatdraft knows them: every class, window
// text, click point and name that chatdraft relies on, in one place for the
// exe, the inspector and the Linux command. It includes nothing, so that each
// of them can include it.
//
// Texts are UTF-8 string literals: the command uses them as they are, the
// Windows programs widen them to UTF-16 at compile time with CLIENT_TEXT16.
#pragma once

// UTF-16 form of a text below, where W16 (src/platform/platform.h) is defined.
// The macro's argument is expanded before W16 pastes its prefix onto it.
#define CLIENT_TEXT16(text) W16(text)

// ---- names ----------------------------------------------------------------------

// The client's executable, as its process image and command line name it.
#define CLIENT_EXE_NAME "KakaoTalk.exe"
// The class of the main window, of every chat room window and of the tab strip.
#define CLIENT_CLASS "EVA_Window_Dblclk"
// The classes of a room's input box, matched in any case.
#define CLIENT_RICH_EDIT50_CLASS "RICHEDIT50W"
#define CLIENT_RICH_EDIT20_CLASS "RichEdit20W"
// The class of the chat list's search box, matched in any case.
#define CLIENT_EDIT_CLASS "Edit"
// The main window's title; a room window has any other, non-empty one.
#define CLIENT_MAIN_TITLE "카카오톡"
// What an empty input box may report as its text.
#define CLIENT_PLACEHOLDER "메시지 입력"

// ---- the main window's views, by the beginning of their window text ----------

#define CLIENT_ONLINE_VIEW "OnlineMainView"       // shown while logged in
#define CLIENT_LOCK_VIEW "LockModeView"           // shown while the PIN lock is up
#define CLIENT_CHAT_LIST_VIEW "ChatRoomListView"  // the chat list: search box, tabs, rows
#define CLIENT_ROOM_LIST "ChatRoomListCtrl"       // the chat list's rows of rooms
#define CLIENT_SEARCH_LIST "SearchListCtrl"       // the chat list's search results

// ---- the chat list's tabs, in the order of its tab strip -----------------------

#define CLIENT_TAB_ALL "전체"
#define CLIENT_TAB_UNREAD "안읽음"
#define CLIENT_TAB_FAMILY "가족"
#define CLIENT_TAB_WORK "업무"
#define CLIENT_TAB_TEACHERS "교사"
// The tab names as a person reads them in a message.
#define CLIENT_TAB_NAMES \
    CLIENT_TAB_ALL ", " CLIENT_TAB_UNREAD ", " CLIENT_TAB_FAMILY ", " CLIENT_TAB_WORK " or " CLIENT_TAB_TEACHERS

struct client_tab {
    const char* name;  // UTF-8
    int x;             // of the click on the tab strip that selects it
    int rows;          // rows of the room list tried under it
};
constexpr client_tab kClientTabs[] = {
    {CLIENT_TAB_ALL, 54, 5},
    {CLIENT_TAB_UNREAD, 140, 5},
    {CLIENT_TAB_FAMILY, 223, 6},
    {CLIENT_TAB_WORK, 290, 5},
    {CLIENT_TAB_TEACHERS, 356, 5},
};

// ---- click points, in client coordinates of the window named -------------------

constexpr int kTabY = 25;         // the tab strip: height of every tab's click
constexpr int kRowX = 200;        // the room list: a row's double click
constexpr int kFirstRowY = 48;    // the room list: the first row's double click
constexpr int kRowPitch = 81;     // the room list: from one row to the next
constexpr int kEndSearchX = 470;  // the chat list view: the point that ends a search
constexpr int kEndSearchY = 89;
