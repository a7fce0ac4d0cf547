"""Expected message traffic as a table, compared with what the stand-in logged.

    assert_traffic(self, s.messages(role="room_list", since=mark), [
        expect("WM_MOUSEMOVE", x=200, y=48, via="sent"),
        expect("WM_LBUTTONDOWN", wparam=1, x=200, y=48),
        expect("WM_LBUTTONUP", wparam=0),
        expect("WM_LBUTTONDBLCLK", wparam=1),
        expect("WM_LBUTTONUP"),
    ])

Fields are compared only where an entry names them; an optional entry is
skipped when the next logged event does not match it. Sent and posted
messages are compared each in their own order, since a window handles a sent
message before a posted one that waits. A mismatch fails the test with the
expected and the logged sequence side by side.
"""

from dataclasses import dataclass, field


@dataclass
class Expect:
    kind: str
    fields: dict = field(default_factory=dict)
    optional: bool = False

    def __str__(self):
        text = " ".join([self.kind] + ["%s=%r" % kv for kv in self.fields.items()])
        return text + (" (optional)" if self.optional else "")


def expect(kind, optional=False, **fields):
    return Expect(kind, fields, optional)


def event_kind(event):
    """A message's name for msg/activate/focus events, else the event's name."""
    return event.get("name") if event.name in ("msg", "activate", "focus") else event.name


def _matches(event, entry):
    return event_kind(event) == entry.kind and all(event.get(k) == v for k, v in entry.fields.items())


def _describe(event):
    shown = ("via", "wparam", "lparam", "x", "y", "text", "room", "role")
    parts = [event_kind(event)] + ["%s=%r" % (k, event.get(k)) for k in shown if k in event]
    return " ".join(parts)


def event_stream(events):
    """Each event's queue: "posted" or "sent".

    A window handles sent messages before posted ones whenever both wait, so
    a posted message may be logged after a message sent later. What the
    stand-in logs while it handles a message (a send, a room opened) belongs
    to that message's queue.
    """
    streams, current = [], "sent"
    for event in events:
        if event.name in ("msg", "activate", "focus") and "via" in event:
            current = "posted" if event.get("via") == "posted" else "sent"
        streams.append(current)
    return streams


def _entry_streams(entry):
    via = entry.fields.get("via")
    if via == "posted":
        return ("posted",)
    return ("sent",) if via is not None else ("sent", "posted")


def _match_queues(queues, expected):
    """Whether the expected entries, in order, use up both queues, each in its
    own order; an entry that names no `via` may come from either queue."""
    seen = set()

    def walk(j, at):
        if (j, at["sent"], at["posted"]) in seen:
            return False
        seen.add((j, at["sent"], at["posted"]))
        if j == len(expected):
            return all(at[q] == len(queues[q]) for q in queues)
        entry = expected[j]
        for q in _entry_streams(entry):
            if at[q] < len(queues[q]) and _matches(queues[q][at[q]], entry):
                if walk(j + 1, dict(at, **{q: at[q] + 1})):
                    return True
        return entry.optional and walk(j + 1, at)

    return walk(0, {"sent": 0, "posted": 0})


def compare_traffic(events, expected):
    """An empty list when the events follow the table, else report lines.

    Sent messages are compared in order among themselves and posted ones among
    themselves, never a posted one against a sent one: Windows does not order
    the two queues against each other.
    """
    streams = event_stream(events)
    queues = {q: [e for e, s in zip(events, streams) if s == q] for q in ("sent", "posted")}
    if _match_queues(queues, expected):
        return []
    rows = max(len(expected), len(events))
    lines = ["mismatch (sent and posted messages are each compared in their own order)",
             "%-60s | %s" % ("expected", "logged")]
    for k in range(rows):
        left = str(expected[k]) if k < len(expected) else ""
        right = _describe(events[k]) if k < len(events) else ""
        lines.append("%-60s | %s" % (left[:60], right[:120]))
    return lines


def assert_traffic(testcase, events, expected):
    report = compare_traffic(events, expected)
    if report:
        testcase.fail("\n".join(report))
