"""Expected message traffic as a table, compared with what the stand-in logged.

    assert_traffic(self, s.messages(role="room_list", since=mark), [
        expect("WM_MOUSEMOVE", x=200, y=48, via="sent"),
        expect("WM_LBUTTONDOWN", wparam=1, x=200, y=48),
        expect("WM_LBUTTONUP", wparam=0),
        expect("WM_LBUTTONDBLCLK", wparam=1),
        expect("WM_LBUTTONUP"),
    ])

Fields are compared only where an entry names them; an optional entry is
skipped when the next logged event does not match it. A mismatch fails the
test with the expected and the logged sequence side by side.
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


def compare_traffic(events, expected):
    """An empty list when the events follow the table, else report lines."""
    i = j = 0
    while j < len(expected):
        if i < len(events) and _matches(events[i], expected[j]):
            i, j = i + 1, j + 1
        elif expected[j].optional:
            j += 1
        else:
            break
    if j == len(expected) and i == len(events):
        return []
    rows = max(len(expected), len(events))
    lines = ["mismatch at expected #%d, logged #%d" % (j, i), "%-60s | %s" % ("expected", "logged")]
    for k in range(rows):
        left = str(expected[k]) if k < len(expected) else ""
        right = _describe(events[k]) if k < len(events) else ""
        lines.append("%-60s | %s" % (left[:60], right[:120]))
    return lines


def assert_traffic(testcase, events, expected):
    report = compare_traffic(events, expected)
    if report:
        testcase.fail("\n".join(report))
