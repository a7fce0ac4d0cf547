"""`chatdraft mcp` from the unpacked package against the stand-in client:
sessions of the official MCP TypeScript SDK's client (tests/mcp/session.mjs,
installed with npm ci by the mcp_client fixture), and raw lines for the
protocol's failure paths.

Run with CHATDRAFT_WINEPREFIX, CHATDRAFT_WIN_BUILD, CHATDRAFT_PACKAGE_DIR and
CHATDRAFT_MCP_CLIENT set.
"""

import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness.requests import crlf  # noqa: E402
from test_cli import CommandCase  # noqa: E402

SESSION_SECONDS = 240
SCENARIO = "\n".join([
    'room "Drafts" draft="old"',
    'room "Notes" draft="keep"',
    'room "Confirm"',
    'room "Declined"',
    'room "Dismissed"',
    'room "No asking"',
    'room "Allowed"',
    'room "Untouched"',
    'room "Team Alpha"',
    'room "Busy"',
    'room "Stuck" send=stuck',
    'known "Project Beta"',
    'search "Project Beta" "Project Beta"',
    'known "Team Beta Squad"',
    'search "Team Beta" "Team Beta Squad"',
])


def text_of(result):
    return result["content"][0]["text"]


class McpCase(CommandCase):
    SCENARIO = SCENARIO

    def session(self, calls, answer=None, args=(), while_asked=None):
        """What the SDK client saw in one session (see session.mjs)."""
        client = os.environ.get("CHATDRAFT_MCP_CLIENT")
        if not client:
            raise unittest.SkipTest("CHATDRAFT_MCP_CLIENT is not set")
        plan = {"command": [self.command, "mcp", *args], "env": self.env(), "answer": answer,
                "while_asked": while_asked or {}, "calls": calls}
        r = subprocess.run(["node", os.path.join(client, "session.mjs"), json.dumps(plan)],
                           capture_output=True, timeout=SESSION_SECONDS)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assertEqual([], os.listdir(self.tmp), "left in TMPDIR")
        seen = json.loads(r.stdout)
        self.assertEqual([], seen["errors"])
        return seen

    def sends(self, room, since):
        return [e["text"] for e in self.s.find(lambda e: e.name == "send" and e["room"] == room, since)]


class Sessions(McpCase):
    def test_initialize_and_every_tools_schema(self):
        seen = self.session([{"name": "list_rooms", "arguments": {}},
                             {"name": "check_client", "arguments": {}}])
        self.assertEqual("chatdraft", seen["server"]["version"]["name"])
        self.assertEqual({"listChanged": False}, seen["server"]["capabilities"]["tools"])
        tools = {t["name"]: t for t in seen["tools"]}
        self.assertEqual({"list_rooms", "write_draft", "clear_draft", "send_message", "check_client"},
                         set(tools))
        for tool in tools.values():
            self.assertTrue(tool["title"] and tool["description"] and tool["outputSchema"], tool["name"])
        self.assertTrue(tools["list_rooms"]["annotations"]["readOnlyHint"])
        self.assertTrue(tools["send_message"]["annotations"]["destructiveHint"])
        self.assertTrue(tools["send_message"]["annotations"]["openWorldHint"])
        listed, checked = seen["results"]
        self.assertEqual("ready", listed["structuredContent"]["client_state"])
        self.assertIn({"title": "Notes", "draft": "keep"}, listed["structuredContent"]["rooms"])
        self.assertIn('"Notes" (draft "keep")', text_of(listed))
        self.assertEqual("checked", checked["structuredContent"]["outcome"])
        self.assertTrue(checked["structuredContent"]["checks"])

    def test_draft_exists_and_the_three_ways_on(self):
        call = lambda way: {"name": "write_draft",  # noqa: E731
                            "arguments": {"room": "Drafts", "message": "new", "if_draft_exists": way}}
        mark = self.s.mark()
        stop, append, replace = self.session([call("stop"), call("append"), call("replace")])["results"]
        self.assertTrue(stop["isError"])
        self.assertEqual(("DRAFT_EXISTS", "old"), (stop["structuredContent"]["error_code"],
                                                  stop["structuredContent"]["existing_draft"]))
        self.assertIn("ask which way on", text_of(stop))
        self.assertEqual(("draft_written", crlf("old\nnew")),
                         (append["structuredContent"]["outcome"], append["structuredContent"]["draft"]))
        self.assertEqual(("draft_written", "new", False),
                         (replace["structuredContent"]["outcome"], replace["structuredContent"]["draft"],
                          replace["structuredContent"]["sent"]))
        self.assertEqual("new", self.box("Drafts"))
        self.assertEqual([], self.sends("Drafts", mark))

    def test_a_send_goes_only_with_the_persons_yes(self):
        rows = [  # room, how the person answers (None: the host cannot ask), server args, sent
            ("Confirm", "accept", (), True),
            ("Declined", "decline", (), False),
            ("Dismissed", "cancel", (), False),
            ("No asking", None, (), False),
            ("Allowed", None, ("--allow-send",), True),
        ]
        for room, answer, args, sent in rows:
            with self.subTest(room=room):
                mark = self.s.mark()
                message = "회의는 3시\n" + room
                seen = self.session([{"name": "send_message", "arguments": {"room": room, "message": message}}],
                                    answer=answer, args=args)
                result = seen["results"][0]
                self.assertEqual(sent, result["structuredContent"]["sent"], text_of(result))
                self.assertFalse(result["isError"])
                self.assertEqual([crlf(message)] if sent else [], self.sends(room, mark))
                self.assertEqual("" if sent else crlf(message), self.box(room))
                if answer:
                    self.assertIn('"%s"' % room, seen["asked"][0]["message"])
                    self.assertIn(message, seen["asked"][0]["message"])
                if not sent:
                    self.assertIn("NOT sent", text_of(result))

    def test_an_unconfirmed_send_is_an_unknown_outcome(self):
        result = self.session([{"name": "send_message", "arguments": {"room": "Stuck", "message": "hi"}}],
                              answer="accept")["results"][0]
        self.assertEqual((True, "unknown"), (result["isError"], result["structuredContent"]["outcome"]))
        self.assertNotIn("sent", result["structuredContent"])
        self.assertIn("may have been sent", text_of(result))
        self.assertIn("list_rooms before trying again", text_of(result))

    def test_ping_and_a_cancelled_call_while_the_person_is_asked(self):
        mark = self.s.mark()
        seen = self.session(
            [{"name": "send_message", "arguments": {"room": "Busy", "message": "later"}}], answer="decline",
            while_asked={"ping": True,
                         "cancel": {"name": "write_draft", "arguments": {"room": "Untouched", "message": "x"}}})
        self.assertTrue(seen["pinged_while_asked"])
        self.assertEqual("aborted", seen["cancelled_call"])
        self.assertEqual("draft_written", seen["results"][0]["structuredContent"]["outcome"])
        self.assertEqual("", self.box("Untouched"))
        # The other calls' looks at the open rooms read its box; nothing else reached it.
        reads = ("WM_GETTEXTLENGTH", "WM_GETTEXT")
        self.assertEqual([], [e.line for e in self.s.find(
            lambda e: e.get("room") == "Untouched" and e.get("name") not in reads, mark)])

    def test_progress_and_warning_when_the_client_opens_the_room(self):
        seen = self.session([{"name": "write_draft", "progress": True,
                              "arguments": {"room": "Project Beta", "message": "hello"}}])
        result = seen["results"][0]["structuredContent"]
        self.assertEqual(("draft_written", True), (result["outcome"], result["opened_room"]))
        messages = [p.get("message", "") for p in seen["progress"]]
        # The SDK handles a notification a turn after the response that follows
        # it, so the last run's end is checked over raw lines below.
        self.assertEqual(["chatdraft.exe started: looking at the client's windows", "chatdraft.exe ended",
                          "chatdraft.exe started: opening the room through the client's search box"],
                         messages[:3])
        self.assertEqual([1, 2, 3], [p["progress"] for p in seen["progress"]][:3])
        self.assertEqual(["warning"], [log["level"] for log in seen["logs"]])
        self.assertIn("may have taken the person's focus", seen["logs"][0]["data"])

    def test_a_name_never_stands_for_a_room_that_only_contains_it(self):
        mark = self.s.mark()
        for name in ("write_draft", "send_message"):
            result = self.session([{"name": name, "arguments": {"room": "Team", "message": "hi"}}],
                                  answer="accept")["results"][0]
            self.assertEqual(("ROOM_NOT_EXACT", ["Team Alpha"]), (result["structuredContent"]["error_code"],
                                                                  result["structuredContent"]["candidates"]))
        self.assertEqual("", self.box("Team Alpha"))
        # A room the client's search opens for a longer name gets its box back
        # as it was; once open, it is refused before anything is written.
        wrong, refused = [self.session([{"name": name, "arguments": {"room": "Team Beta", "message": "hi"}}],
                                       answer="accept")["results"][0] for name in ("write_draft", "send_message")]
        self.assertEqual(("WRONG_ROOM", "Team Beta Squad"), (wrong["structuredContent"]["error_code"],
                                                             wrong["structuredContent"]["room_title"]))
        self.assertIn("put back as it was", text_of(wrong))
        self.assertEqual(("ROOM_NOT_EXACT", ["Team Beta Squad"]), (refused["structuredContent"]["error_code"],
                                                                   refused["structuredContent"]["candidates"]))
        self.assertEqual("", self.box("Team Beta Squad"))
        self.assertEqual([], self.sends("Team Alpha", mark) + self.sends("Team Beta Squad", mark))


class RawLines(McpCase):
    """Lines as a broken or hostile client writes them: each gets its answer,
    or none for a notification, and the server goes on to answer a ping."""

    def serve(self, payload):
        """The messages the server wrote for `payload` and a final ping."""
        ping = b'{"jsonrpc":"2.0","id":"last","method":"ping"}\n'
        r = subprocess.run([self.command, "mcp"], input=payload + ping, capture_output=True,
                           env=self.env(), timeout=SESSION_SECONDS)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        lines = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertEqual({"jsonrpc": "2.0", "id": "last", "result": {}}, lines[-1])
        return lines[:-1]

    def test_table(self):
        call = lambda args: json.dumps({"jsonrpc": "2.0", "id": 7, "method": "tools/call",  # noqa: E731
                                        "params": {"name": "write_draft", "arguments": args}}).encode()
        rows = [  # name, line(s), expected (id, error code) per answer; [] for none
            ("broken JSON", b'{"jsonrpc":"2.0","id":1,', [(None, -32700)]),
            ("binary bytes", b"\xff\xfe\x00\x01garbage", [(None, -32700)]),
            ("a batch", b'[{"jsonrpc":"2.0","id":1,"method":"ping"}]', [(None, -32600)]),
            ("not JSON-RPC 2.0", b'{"id":2,"method":"ping"}', [(2, -32600)]),
            ("an id of the wrong type", b'{"jsonrpc":"2.0","id":{},"method":"ping"}', [(None, -32600)]),
            ("a notification: no answer", b'{"jsonrpc":"2.0","method":"tools/call"}', []),
            ("an answer to no question", b'{"jsonrpc":"2.0","id":"chatdraft-1","result":{}}', []),
            ("a cancellation of no call", b'{"jsonrpc":"2.0","method":"notifications/cancelled",'
                                          b'"params":{"requestId":"last"}}', []),
            ("an unknown method", b'{"jsonrpc":"2.0","id":3,"method":"rooms/delete"}', [(3, -32601)]),
            ("params not an object", b'{"jsonrpc":"2.0","id":4,"method":"tools/list","params":[1]}',
             [(4, -32602)]),
            ("an unknown tool", b'{"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"wipe"}}',
             [(5, -32602)]),
            ("room missing", call({"message": "hi"}), [(7, -32602)]),
            ("room of the wrong type", call({"room": 1, "message": "hi"}), [(7, -32602)]),
            ("an unknown argument", call({"room": "Busy", "message": "hi", "send": True}), [(7, -32602)]),
            ("a way on not in the enum", call({"room": "Busy", "message": "hi", "if_draft_exists": "x"}),
             [(7, -32602)]),
            ("a NUL in the message", call({"room": "Busy", "message": "a\u0000b"}), [(7, -32602)]),
            ("a 10 MiB line", b'{"x":"' + b"a" * (10 << 20) + b'"}', [(None, -32600)]),
        ]
        for name, line, expected in rows:
            with self.subTest(name):
                answers = self.serve(line + b"\n")
                self.assertEqual(expected, [(a.get("id"), a.get("error", {}).get("code")) for a in answers])

    def test_initialize_answers_a_version_it_serves(self):
        for asked, answered in (("2025-06-18", "2025-06-18"), ("2024-11-05", "2024-11-05"),
                                ("2099-01-01", "2025-06-18")):
            with self.subTest(asked):
                init = {"jsonrpc": "2.0", "id": 1, "method": "initialize",
                        "params": {"protocolVersion": asked, "capabilities": {},
                                   "clientInfo": {"name": "raw", "version": "0"}}}
                answer = self.serve(json.dumps(init).encode() + b"\n")[0]
                self.assertEqual(answered, answer["result"]["protocolVersion"])

    def test_end_of_input_mid_call_still_answers_the_call(self):
        # Input ends right behind the call: the box is cleared, with progress, and answered.
        line = json.dumps({"jsonrpc": "2.0", "id": 9, "method": "tools/call",
                           "params": {"name": "clear_draft", "arguments": {"room": "Busy"},
                                      "_meta": {"progressToken": "t"}}}).encode()
        r = subprocess.run([self.command, "mcp"], input=line + b"\n", capture_output=True,
                           env=self.env(), timeout=SESSION_SECONDS)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        *progress, answer = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertEqual([("t", 1, "chatdraft.exe started: looking at the client's windows"),
                          ("t", 2, "chatdraft.exe ended"),
                          ("t", 3, 'chatdraft.exe started: writing into "Busy"'),
                          ("t", 4, "chatdraft.exe ended")],
                         [(p["params"]["progressToken"], p["params"]["progress"], p["params"]["message"])
                          for p in progress])
        self.assertEqual((9, "cleared"), (answer["id"], answer["result"]["structuredContent"]["outcome"]))


if __name__ == "__main__":
    unittest.main()
