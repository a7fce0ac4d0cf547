"""Drives the stand-in client with chatdraft.exe as a calling program would."""

import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from harness import Standin, chatdraft_exe, run_exe, win_path  # noqa: E402

SCENARIO = """\
# A logged-in client with three rooms open and one that search can open.
room "Team Alpha"
room "우리 가족" draft="장 보기 목록:\\n우유"
room "Weekend Club" placeholder
known "Project Beta"
search "Project Beta" "Project Beta"
"""

STEPS = [
    ("Look first: probe the client", None),
    ("Write a draft into Team Alpha",
     {"room": "Team Alpha", "message": "Meeting moved to 3 pm"}),
    ("A different message while that draft stands is refused",
     {"room": "Team Alpha", "message": "Something else"}),
    ("Append a line under the draft in 우리 가족",
     {"room": "우리가족", "message": "계란 한 판", "append": True}),
    ("Send what stands in Team Alpha (same text: no conflict)",
     {"room": "Team Alpha", "message": "Meeting moved to 3 pm", "send": True}),
    ("Open Project Beta through the search box, write and send",
     {"room": "Project Beta", "message": "Build is green 🎉", "send": True, "close_after": True}),
    ("'Alpha' only appears inside a title (a weak match): sending is refused",
     {"room": "Alpha", "message": "hi", "send": True}),
    ("Probe again", None),
]

RECORDED = ("send", "opened", "closed", "search", "activate", "focus")


def banner(text):
    print("\n== %s" % text)


def run_step(work, index, request):
    out = os.path.join(work, "result%d.json" % index)
    if request is None:
        result = run_exe(chatdraft_exe(), ["--probe", win_path(out)], timeout=60)
    else:
        req = os.path.join(work, "request%d.json" % index)
        with open(req, "w", encoding="utf-8") as f:
            json.dump(request, f, ensure_ascii=False)
        print("request: %s" % json.dumps(request, ensure_ascii=False))
        result = run_exe(chatdraft_exe(), [win_path(req), win_path(out)], timeout=60)
    print("exit %d after %.2f s" % (result.returncode, result.seconds))
    with open(out, encoding="utf-8") as f:
        document = f.read()
    print("result: %s" % document.rstrip("\n"))
    return json.loads(document)


def main():
    work = tempfile.mkdtemp(prefix="chatdraft-demo-")
    with Standin(SCENARIO) as client:
        print("stand-in client running, pid %d" % client.pid)
        for index, (title, request) in enumerate(STEPS):
            banner(title)
            mark = client.mark()
            run_step(work, index, request)
            for event in client.since(mark):
                if event.name in RECORDED:
                    print("stand-in: %s" % event.line.split(" ", 1)[1])
        banner("Activation or focus changes caused during the demo")
        print(len(client.focus_events(since=client.ready_index + 1)))


if __name__ == "__main__":
    main()
