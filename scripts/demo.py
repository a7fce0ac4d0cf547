"""Types the chatdraft command, as installed from the package, against the
stand-in client, and prints a transcript."""

import os
import shlex
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from harness import Standin, prefix_from_env  # noqa: E402

SCENARIO = """\
# A logged-in client with three rooms open and one that the 업무 tab can open.
room "Team Alpha"
room "우리 가족" draft="장 보기 목록:\\n우유"
room "Weekend Club" placeholder
known "Project Beta"
result_list hidden
tab "업무" "Project Beta"
"""

STEPS = [
    ("Look first", ["probe"]),
    ("Write a draft", ["draft", "Team Alpha", "Meeting moved to 3 pm"]),
    ("A draft stands in 우리 가족: nothing is written", ["draft", "우리 가족", "계란 한 판"]),
    ("The three ways on: add a line under it", ["draft", "우리 가족", "계란 한 판", "--append"]),
    ("... replace it", ["draft", "우리 가족", "우유 두 개", "--force"]),
    ("... or empty the box", ["draft", "우리 가족", "--clear"]),
    ("Send what stands in Team Alpha (the same text: no conflict)",
     ["draft", "Team Alpha", "Meeting moved to 3 pm", "--send"]),
    ("Open a room that is not open, from the 업무 tab, send, and close it",
     ["draft", "Project Beta", "Build is green 🎉", "-t", "업무", "--send", "--close-after"]),
    ("'Alpha' is only inside a title: sending is refused", ["draft", "Alpha", "hi", "--send"]),
    ("A mistake: no such tab", ["draft", "Team Alpha", "hi", "-t", "Work"]),
    ("A program reads the document itself", ["probe", "--json"]),
    ("What chatdraft finds of the client, item by item", ["doctor"]),
]

RECORDED = ("send", "opened", "closed", "activate", "focus")


def main():
    prefix = prefix_from_env()
    env = dict(os.environ, WINEPREFIX=prefix,
               PATH=os.path.abspath(os.environ["CHATDRAFT_DEMO_BIN"]) + os.pathsep + os.environ["PATH"])
    with Standin(SCENARIO, prefix=prefix) as client:
        print("stand-in client running, pid %d; WINEPREFIX=%s" % (client.pid, prefix))
        for title, args in STEPS:
            print("\n# %s" % title)
            print("$ %s" % shlex.join(["chatdraft", *args]))
            mark = client.mark()
            r = subprocess.run(["chatdraft", *args], env=env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=90)
            sys.stdout.write(r.stdout.decode() + r.stderr.decode())
            print("[exit %d]" % r.returncode)
            for event in client.since(mark):
                if event.name in RECORDED:
                    print("  stand-in: %s" % event.line.split(" ", 1)[1])
        print("\nactivation or focus changes during the demo: %d"
              % len(client.focus_events(since=client.ready_index + 1)))


if __name__ == "__main__":
    main()
