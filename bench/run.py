"""chatdraft's benchmark: run times of chatdraft.exe under Wine beside the
stand-in client, against a minimal program that only enumerates windows.

    python3 bench/run.py [--runs N] [--build DIR] [--prefix DIR]

Every case is run N times, interleaved round by round with the other cases
of its scenario and with floor.exe, so that machine noise falls on all of
them alike. The time of one run is from spawning `wine64 program` to its
exit, as a calling program sees it. Each run's result is checked, so a
table never reports a run that did the wrong thing.

overhead = median - floor median (same scenario) - the path's fixed waits

chatdraft_timed.exe, the same program with a stopwatch around main, runs
beside each chatdraft run, and floor.exe times its own main too; the
in-process overhead (in-process median - floor's in-process median - waits)
leaves out Wine's process start and exit, and is much less noisy on a busy
machine.

The in-process overhead is then split: the time chatdraft_timed.exe spent
waiting for the client's answers to its sent messages (timed inside it,
around every one), the result file's work (costs.exe files), how much longer
than asked its sleeps lasted (timed inside it too), and the rest,
chatdraft's own: reading the desktop, posting, formatting.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from harness import Standin, ensure_prefix, poke, wine_env, wine_loader  # noqa: E402

REQUEST_TARGET_MS = 5.0
COMMAND_TARGET_MS = 3.0    # what the chatdraft command may add to the exe it runs
MCP_TARGET_MS = 3.0        # what chatdraft mcp may add to the command for the same probe
PROBE32_TARGET_MS = 15.0
# Targets of chatdraft's own share ("own ms"), the part that is ours to cut.
OWN_TARGET_MS = {"draft_written, open room": 1.5, "sent, open room": 1.5,
                 "DRAFT_EXISTS, open room": 1.0, "AMBIGUOUS_ROOM, open rooms": 1.0,
                 "draft_written, opened by search": 3.0, "--probe, 32 rooms": 4.0}
SIZE_TARGET = 300 * 1024
RUN_TIMEOUT = 30.0

# Fixed sleeps on each path, as the program's code takes them.
READBACK_MS = 100          # after writing the input box
SEND_POLL_MS = 100         # before each poll after Enter; the stand-in empties at once
SEARCH_TEXT_MS = 300       # search text in, before Enter
RESCAN_MS = 300            # before the re-scan after Enter
END_SEARCH_MS = 80         # after the click that ends the search


class Case:
    def __init__(self, name, waits, target, args=None, request=None, check=None, reset=None,
                 settle=None, command=None, versus=None, tool=None):
        self.name = name
        self.sleeps = list(waits)   # the fixed sleeps on this path, in ms
        self.waits = sum(self.sleeps)
        self.target = target        # overhead target in ms, None for the floor
        self.args = args            # command-line arguments, or None for a request
        self.request = request      # request dict for request mode
        self.check = check          # check(doc, standin) raises on a wrong result
        self.reset = reset          # reset(standin) before each run, not timed
        self.settle = settle        # settle(standin, doc) after each run, not timed
        self.command = command      # arguments of the chatdraft command, which runs instead
        self.versus = versus        # the case run directly that the command is measured against
        self.tool = tool            # an MCP tool called through one running `chatdraft mcp`
        self.server = None          # that server, started at the case's first round
        self.times = []
        self.inner_times = []       # chatdraft_timed.exe's own measure of main
        self.answer_times = []      # of which waiting for the client's answers
        self.sleep_times = []       # and in the fixed waits
        self.baseline_times = []    # the same from the --baseline build
        self.failures = []          # what went wrong in runs that are not counted
        self.sent_counts = []       # messages each chatdraft run sent to the stand-in


def expect_status(status, **members):
    def check(doc, _standin):
        got = doc.get("status") if doc.get("status") != "error" else doc.get("error_code")
        if got != status:
            raise RuntimeError("expected %s, got %r" % (status, doc))
        for key, value in members.items():
            if doc.get(key) != value:
                raise RuntimeError("expected %s=%r in %r" % (key, value, doc))
    return check


def expect_rooms(count):
    def check(doc, _standin):
        if doc.get("login_state") != "ready" or len(doc.get("open_rooms", ())) != count:
            raise RuntimeError("expected a ready client with %d rooms, got %r" % (count, doc))
    return check


def expect_listed(count):
    def check(doc, _standin):
        if doc.get("client_state") != "ready" or len(doc.get("rooms", ())) != count:
            raise RuntimeError("expected a ready client with %d rooms, got %r" % (count, doc))
    return check


def empty_input(title):
    def reset(standin):
        poke("settext", standin.room(title).input, "", prefix=standin.prefix)
    return reset


def wait_room_closed(standin, doc):
    hwnd = doc["window_hwnd"]
    standin.wait_for(lambda e: e.name == "closed" and e["hwnd"] == hwnd, timeout=10, since=0)


def floor_case():
    return Case("floor (start, EnumWindows once)", [], None, args=[])


def probe_case(rooms, target):
    return Case("--probe, %d rooms" % rooms, [], target, args=["--probe", "out.json"],
                check=expect_rooms(rooms))


def scenarios():
    """(scenario text, cases) in the order they are measured."""
    draft = "draft_written, open room"
    return [
        ("", [floor_case(), probe_case(0, PROBE32_TARGET_MS)]),
        ('room "Draft room"\nroom "Command room"\nroom "Send room"\nroom "Exists room" draft="old draft"\n'
         'room "Twin room"\nroom "Twin room"\n',
         [floor_case(), probe_case(6, PROBE32_TARGET_MS),
          Case(draft, [READBACK_MS], REQUEST_TARGET_MS,
               request={"room": "Draft room", "message": "hello"},
               check=expect_status("draft_written"), reset=empty_input("Draft room")),
          Case("draft_written through the command", [READBACK_MS], COMMAND_TARGET_MS,
               command=["draft", "Command room", "hello", "--json"], versus=draft,
               check=expect_status("draft_written"), reset=empty_input("Command room")),
          Case("probe through the command", [], COMMAND_TARGET_MS, command=["probe", "--json"],
               versus="--probe, 6 rooms", check=expect_rooms(6)),
          Case("tools/call list_rooms through chatdraft mcp", [], MCP_TARGET_MS, tool="list_rooms",
               versus="probe through the command", check=expect_listed(6)),
          Case("sent, open room", [READBACK_MS, SEND_POLL_MS], REQUEST_TARGET_MS,
               request={"room": "Send room", "message": "hello", "send": True},
               check=expect_status("sent")),
          Case("DRAFT_EXISTS, open room", [], REQUEST_TARGET_MS,
               request={"room": "Exists room", "message": "new text"},
               check=expect_status("DRAFT_EXISTS")),
          Case("AMBIGUOUS_ROOM, open rooms", [], REQUEST_TARGET_MS,
               request={"room": "Twin room", "message": "x"},
               check=expect_status("AMBIGUOUS_ROOM"))]),
        ('rooms 32 "Room %d" draft="안녕하세요 내일 봐요"\n',
         [floor_case(), probe_case(32, PROBE32_TARGET_MS)]),
        ('known "Far room"\nsearch "Far room" "Far room"\n',
         [floor_case(),
          Case("draft_written, opened by search",
               [SEARCH_TEXT_MS, RESCAN_MS, END_SEARCH_MS, READBACK_MS], REQUEST_TARGET_MS,
               request={"room": "Far room", "message": "hello", "close_after": True},
               check=expect_status("draft_written", opened_new_window=True),
               settle=wait_room_closed)]),
        ('plain 1000 "Window %d"\nroom "Target room"\n',
         [floor_case(),
          Case("draft_written, 1000 other windows", [READBACK_MS], REQUEST_TARGET_MS,
               request={"room": "Target room", "message": "hello"},
               check=expect_status("draft_written"), reset=empty_input("Target room"))]),
    ]


def timed_run(exe, args, prefix, cwd):
    """(ms from spawn to exit, exit code, standard error)."""
    with tempfile.TemporaryFile(dir=cwd) as err:
        started = time.perf_counter()
        proc = subprocess.Popen([wine_loader(), exe, *args], env=wine_env(prefix), cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        # A blocking wait: Popen.wait with a time-out polls in steps of up to 50 ms.
        watchdog = threading.Timer(RUN_TIMEOUT, proc.kill)
        watchdog.start()
        rc = proc.wait()
        ms = (time.perf_counter() - started) * 1000.0
        watchdog.cancel()
        err.seek(0)
        stderr = err.read().decode("ascii", "replace")
    if ms >= RUN_TIMEOUT * 1000.0:
        raise RuntimeError("%s %r did not end within %.0f s" % (exe, args, RUN_TIMEOUT))
    return ms, rc, stderr


def run_once(case, exe, exes, standin, work):
    out_path = os.path.join(work, "out.json")
    if os.path.exists(out_path):
        os.remove(out_path)
    if case.reset:
        case.reset(standin)
    args = case.args
    if args is None:
        with open(os.path.join(work, "req.json"), "w", encoding="utf-8") as f:
            json.dump(case.request, f, ensure_ascii=False)
        args = ["req.json", "out.json"]
    mark = standin.mark()
    ms, rc, stderr = timed_run(exe, args, standin.prefix, work)
    messages = standin.messages(since=mark, via="sent")
    sent = len(messages)
    if rc != 0:
        raise RuntimeError("%s exited with %d: %r" % (exe, rc, stderr[-500:]))
    if case.check:
        with open(out_path, "rb") as f:
            doc = json.loads(f.read().decode("utf-8"))
        case.check(doc, standin)
        if case.settle:
            case.settle(standin, doc)
    return ms, stderr, sent


def run_command_once(case, exes, standin, work):
    """The chatdraft command, from spawn to exit, on the same exe and prefix."""
    if case.reset:
        case.reset(standin)
    args = [exes["command"], *case.command, "--prefix", standin.prefix, "--exe", exes["chatdraft"]]
    # Timed as timed_run times the exe: output into files, a blocking wait.
    with tempfile.TemporaryFile(dir=work) as out, tempfile.TemporaryFile(dir=work) as err:
        started = time.perf_counter()
        proc = subprocess.Popen(args, env=wine_env(standin.prefix), cwd=work,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        watchdog = threading.Timer(RUN_TIMEOUT, proc.kill)
        watchdog.start()
        rc = proc.wait()
        ms = (time.perf_counter() - started) * 1000.0
        watchdog.cancel()
        out.seek(0)
        err.seek(0)
        if rc != 0:
            raise RuntimeError("chatdraft %r exited with %d: %r" % (case.command, rc, err.read()))
        case.check(json.loads(out.read().decode("utf-8")), standin)
    return ms


def mcp_call(server, message):
    """One request to a running `chatdraft mcp` and its answer."""
    server.stdin.write((json.dumps(message) + "\n").encode())
    server.stdin.flush()
    line = server.stdout.readline()
    if not line:
        raise RuntimeError("chatdraft mcp ended")
    return json.loads(line)


def mcp_server(case, exes, standin, work):
    """The case's `chatdraft mcp`, started and initialized once, as a host keeps it."""
    if case.server is None:
        args = [exes["command"], "mcp", "--prefix", standin.prefix, "--exe", exes["chatdraft"]]
        case.server = subprocess.Popen(args, env=wine_env(standin.prefix), cwd=work, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        mcp_call(case.server, {"jsonrpc": "2.0", "id": 0, "method": "initialize",
                               "params": {"protocolVersion": "2025-06-18", "capabilities": {},
                                          "clientInfo": {"name": "bench", "version": "0"}}})
    return case.server


def stop_mcp_server(case):
    if case.server is not None:
        case.server.stdin.close()
        case.server.wait(timeout=RUN_TIMEOUT)
        case.server = None


def run_tool_once(case, exes, standin, work):
    """tools/call, from writing the request to reading the answer."""
    server = mcp_server(case, exes, standin, work)
    watchdog = threading.Timer(RUN_TIMEOUT, server.kill)
    watchdog.start()
    started = time.perf_counter()
    answer = mcp_call(server, {"jsonrpc": "2.0", "id": len(case.times) + 1, "method": "tools/call",
                               "params": {"name": case.tool, "arguments": {}}})
    ms = (time.perf_counter() - started) * 1000.0
    watchdog.cancel()
    result = answer.get("result", {})
    if result.get("isError", True):
        raise RuntimeError("tools/call %s: %r" % (case.tool, answer))
    case.check(result["structuredContent"], standin)
    return ms


def in_process_ms(stderr, name="in_process_ms"):
    words = stderr.split()
    if name not in words[:-1]:
        raise RuntimeError("no %s in %r" % (name, stderr[-200:]))
    return float(words[words.index(name) + 1])


def run_case(case, exes, standin, work):
    if case.command is not None:
        case.times.append(run_command_once(case, exes, standin, work))
        return
    if case.tool is not None:
        case.times.append(run_tool_once(case, exes, standin, work))
        return
    if case.target is None:
        ms, stderr, _ = run_once(case, exes["floor"], exes, standin, work)
        case.times.append(ms)
        case.inner_times.append(in_process_ms(stderr))
        return
    ms, _, sent = run_once(case, exes["chatdraft"], exes, standin, work)
    case.times.append(ms)
    case.sent_counts.append(sent)
    timed = [(exes["timed"], case.inner_times)]
    if "baseline" in exes:
        # Taking turns at going first keeps any effect of the order out of the comparison.
        timed.append((exes["baseline"], case.baseline_times))
        if len(case.inner_times) % 2:
            timed.reverse()
    for exe, times in timed:
        stderr = run_once(case, exe, exes, standin, work)[1]
        times.append(in_process_ms(stderr))
        if times is case.inner_times:
            case.answer_times.append(in_process_ms(stderr, "answers_ms"))
            case.sleep_times.append(in_process_ms(stderr, "sleeps_ms"))


def run_round(case, exes, standin, work):
    """One round of a case; a failed run is recorded and left out of the times."""
    lists = (case.times, case.inner_times, case.baseline_times, case.sent_counts, case.answer_times,
             case.sleep_times)
    counts = [len(values) for values in lists]
    try:
        run_case(case, exes, standin, work)
    except (RuntimeError, OSError, ValueError) as failure:
        case.failures.append(str(failure))
        for values, count in zip(lists, counts):
            del values[count:]


def cost_ms(exes, args, prefix, work):
    _, rc, stderr = timed_run(exes["costs"], args, prefix, work)
    words = stderr.split()
    if rc != 0 or "cost_ms" not in words[:-1]:
        raise RuntimeError("costs.exe %r: %r" % (args, stderr[-200:]))
    return float(words[words.index("cost_ms") + 1])


class Costs:
    """The fixed costs measured in one scenario."""
    def __init__(self):
        self.message_ms = None      # one sent message's round trip; None without a box
        self.request_files = []     # read the request, write and rename the result
        self.probe_files = []       # write and rename the probe document

    def measure_files(self, exes, prefix, work):
        with open(os.path.join(work, "req.json"), "w", encoding="utf-8") as f:
            json.dump({"room": "Draft room", "message": "hello"}, f)
        self.request_files.append(cost_ms(exes, ["files", "out.json", "req.json"], prefix, work))
        self.probe_files.append(cost_ms(exes, ["files", "out.json"], prefix, work))

    def measure_message(self, exes, standin, work):
        # The search box lives as long as the stand-in; a room's box may have
        # been closed by a case's close_after.
        boxes = [e for role in ("search_box", "input") for e in
                 standin.find(lambda e, role=role: e.name == "window" and e.get("role") == role,
                              since=0)]
        if boxes:
            self.message_ms = cost_ms(exes, ["message", str(boxes[0]["hwnd"]), "200"],
                                      standin.prefix, work)



def measure(scenario, cases, runs, exes, prefix, work):
    costs = Costs()
    with Standin(scenario, prefix=prefix, exe=exes["standin"]) as standin:
        for case in cases:          # warm-up, not counted: caches, first-use paths
            run_round(case, exes, standin, work)
            case.times.clear()
            case.inner_times.clear()
            case.baseline_times.clear()
            case.sent_counts.clear()
            case.answer_times.clear()
            case.sleep_times.clear()
        costs.measure_message(exes, standin, work)
        for _ in range(runs):
            for case in cases:
                run_round(case, exes, standin, work)
            costs.measure_files(exes, prefix, work)
        for case in cases:
            stop_mcp_server(case)
        focus = standin.focus_events()
        if focus:
            raise RuntimeError("activation or focus changed:\n%s" % "\n".join(e.line for e in focus))
    return costs


def quartiles(times):
    q = statistics.quantiles(times, n=4, method="inclusive")
    return q[0], q[2]


def split_row(case, costs, inner_overhead):
    """The in-process overhead split into the client's answers, files, the
    waits' oversleep and chatdraft's own share. The answers and the waits are
    timed inside chatdraft_timed.exe itself, around every sent message and
    every Sleep."""
    sent = statistics.median(case.sent_counts) if case.sent_counts else 0
    files = costs.probe_files if case.args and case.args[0] == "--probe" else costs.request_files
    if case.args == ["--probe"]:
        files = []                  # the probe document on standard output
    files_ms = statistics.median(files) if files else 0.0
    answers_ms = statistics.median(case.answer_times)
    oversleep = statistics.median(case.sleep_times) - case.waits
    own = inner_overhead - answers_ms - files_ms - oversleep
    target = OWN_TARGET_MS.get(case.name)
    verdict = "" if target is None else "%s %g: %s" % ("≤", target, "ok" if own <= target else "OVER")
    return " %g | %.1f | %.1f | %.1f | %.1f | %s |" % (
        sent, answers_ms, files_ms, oversleep, own, verdict)


def table(measured, exe_size, baseline):
    head = ["| case | median ms | IQR ms | min ms | floor ms | waits ms | overhead ms | target "
            "| in-process ms | in-process overhead ms | sent msgs | answers ms | files ms "
            "| oversleep ms | own ms | own target |",
            "|---|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---|"]
    if baseline:
        head = [head[0] + " baseline in-process overhead ms |", head[1] + "---:|"]
    rows = list(head)
    failures = []
    for cases, costs in measured:
        if not cases[0].times:
            rows.append("| %s | every run failed |" % cases[0].name)
            continue
        floor = statistics.median(cases[0].times)
        inner_floor = statistics.median(cases[0].inner_times)
        for case in cases:
            if not case.times:
                rows.append("| %s | every run failed |" % case.name)
                continue
            med = statistics.median(case.times)
            q1, q3 = quartiles(case.times)
            if case.versus is not None:
                direct = statistics.median(next(c for c in cases if c.name == case.versus).times)
                overhead = med - direct
                verdict = "< %g over the exe: %s" % (case.target, "ok" if overhead < case.target else "OVER")
                if overhead >= case.target:
                    failures.append(case.name)
                rows.append("| %s | %.1f | %.1f-%.1f | %.1f | %.1f | %d | %.1f | %s | | | | | | | | |"
                            % (case.name, med, q1, q3, min(case.times), floor, case.waits, overhead,
                               verdict))
                continue
            over = verdict = inner_over = ""
            split = " | | | | | |"
            inner = "%.1f" % statistics.median(case.inner_times)
            if case.target is not None:
                overhead = med - floor - case.waits
                over = "%.1f" % overhead
                verdict = "< %g: %s" % (case.target, "ok" if overhead < case.target else "OVER")
                if overhead >= case.target:
                    failures.append(case.name)
                inner_overhead = statistics.median(case.inner_times) - inner_floor - case.waits
                inner_over = "%.1f" % inner_overhead
                split = split_row(case, costs, inner_overhead)
            row = ("| %s | %.1f | %.1f-%.1f | %.1f | %.1f | %d | %s | %s | %s | %s |%s"
                   % (case.name, med, q1, q3, min(case.times), floor, case.waits, over,
                      verdict, inner, inner_over, split))
            if baseline:
                row += " %s |" % ("%.1f" % (statistics.median(case.baseline_times) - inner_floor
                                            - case.waits) if case.baseline_times else "")
            rows.append(row)
    for cases, _ in measured:
        for case in cases:
            for failure in case.failures:
                failures.append("%s: a failed run (%s)" % (case.name, failure))
    message_costs = ["%.3f" % costs.message_ms for _, costs in measured if costs.message_ms]
    size_ok = exe_size < SIZE_TARGET
    if not size_ok:
        failures.append("chatdraft.exe size")
    rows.append("")
    rows.append("one sent message's round trip (median, per scenario with a box): %s ms"
                % ", ".join(message_costs))
    rows.append("chatdraft.exe: %d bytes (%.1f KiB), target < 300 KiB: %s"
                % (exe_size, exe_size / 1024.0, "ok" if size_ok else "OVER"))
    return "\n".join(rows), failures


def main():
    root = os.path.abspath(os.path.join(HERE, ".."))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("--build", default=os.path.join(root, "build", "windows"))
    parser.add_argument("--prefix", default=os.path.join(root, "build", "bench-prefix"))
    parser.add_argument("--command", default=os.path.join(root, "build", "command", "cli", "chatdraft"),
                        help="the chatdraft command (the package preset's build)")
    parser.add_argument("--only", help="measure only the cases whose names contain this text")
    parser.add_argument("--baseline", help="another Windows build whose chatdraft_timed.exe "
                        "runs beside this one's, for a before-and-after column")
    opts = parser.parse_args()
    build = os.path.abspath(opts.build)
    exes = {"chatdraft": os.path.join(build, "chatdraft.exe"),
            "floor": os.path.join(build, "bench", "floor.exe"),
            "timed": os.path.join(build, "bench", "chatdraft_timed.exe"),
            "costs": os.path.join(build, "bench", "costs.exe"),
            "command": os.path.abspath(opts.command),
            "standin": os.path.join(build, "standin", "standin.exe")}
    if opts.baseline:
        exes["baseline"] = os.path.join(os.path.abspath(opts.baseline), "bench",
                                        "chatdraft_timed.exe")
    for path in exes.values():
        if not os.path.isfile(path):
            sys.exit("missing %s: build the windows configuration first" % path)
    os.environ["CHATDRAFT_WIN_BUILD"] = build      # poke.exe is found through it
    prefix = ensure_prefix(opts.prefix)
    work = tempfile.mkdtemp(prefix="chatdraft_bench_")
    measured = []
    try:
        for scenario, cases in scenarios():
            if opts.only:
                wanted = {c.name for c in cases if opts.only in c.name}
                for _ in cases:     # and what they are measured against, down the chain
                    wanted |= {c.versus for c in cases if c.name in wanted and c.versus}
                cases = [c for c in cases if c.target is None or c.name in wanted]
                if len(cases) == 1:
                    continue
            measured.append((cases, measure(scenario, cases, opts.runs, exes, prefix, work)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    text, failures = table(measured, os.path.getsize(exes["chatdraft"]), bool(opts.baseline))
    print("%d runs per case, %s, %s" % (opts.runs, time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
                                         os.uname().nodename))
    print(text)
    if failures:
        print("over target or failed:\n  " + "\n  ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
