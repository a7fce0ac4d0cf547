"""Request-mode runs of chatdraft.exe: write the request file, run the
program, read back the one result document.

    r = run_request({"room": "Team Alpha", "message": "hi", "send": True})
    r.doc["status"], r.raw, r.seconds

The request is a dict (written as compact UTF-8 JSON, Korean kept raw) or
bytes written as they are. Each run gets a fresh directory, removed afterwards;
`files` lists what the run left in it besides the request file.
"""

import json
import os
import shutil
import tempfile
from dataclasses import dataclass

from . import wine

RUN_TIMEOUT = 60.0
REQUEST_NAME = "req.json"
RESULT_NAME = "out.json"

@dataclass
class RequestRun:
    returncode: int
    seconds: float      # wall time of the chatdraft process, Wine start-up included
    raw: bytes          # the result file's bytes; None when there is no result file
    doc: dict           # the parsed result document; None when there is none
    files: list         # names left in the run directory, the request file excluded
    stdout: bytes
    stderr: bytes


def request_bytes(request):
    if isinstance(request, (bytes, bytearray)):
        return bytes(request)
    return json.dumps(request, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def run_request(request, prefix=None, timeout=RUN_TIMEOUT):
    """Run chatdraft.exe on one request; fails the caller's test by raising on a hang."""
    folder = tempfile.mkdtemp(prefix="chatdraft_req_")
    try:
        with open(os.path.join(folder, REQUEST_NAME), "wb") as f:
            f.write(request_bytes(request))
        r = wine.run_exe(wine.chatdraft_exe(), [REQUEST_NAME, RESULT_NAME], timeout=timeout,
                         prefix=prefix, cwd=folder)
        if r.timed_out:
            raise AssertionError("chatdraft.exe did not end within %.0f s" % timeout)
        raw = doc = None
        result_path = os.path.join(folder, RESULT_NAME)
        if os.path.exists(result_path):
            with open(result_path, "rb") as f:
                raw = f.read()
            doc = json.loads(raw.decode("utf-8"))
        files = sorted(n for n in os.listdir(folder) if n != REQUEST_NAME)
        return RequestRun(r.returncode, r.seconds, raw, doc, files, r.stdout, r.stderr)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ------------------------------------------------------- expected documents
# Built from their parts, byte for byte as chatdraft writes them, so a test
# can compare whole result files.

_SHORT_ESCAPES = {0x22: b'\\"', 0x5C: b"\\\\", 0x0A: b"\\n", 0x0D: b"\\r", 0x09: b"\\t"}


def json_string(text):
    """Raw UTF-8 in quotes; short escapes for quote, backslash, LF, CR and TAB,
    \\u00xx for the other control bytes; nothing else is escaped."""
    out = bytearray(b'"')
    for byte in text.encode("utf-8"):
        if byte in _SHORT_ESCAPES:
            out += _SHORT_ESCAPES[byte]
        elif byte < 0x20:
            out += b"\\u%04x" % byte
        else:
            out.append(byte)
    return bytes(out + b'"')


# The Korean error texts, from the golden file the unit tests read too. An
# entry's name is its error code, followed by a word where one code has two texts.
GOLDEN_ERRORS_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                                  os.pardir, "golden", "error_texts.json")
with open(GOLDEN_ERRORS_PATH, encoding="utf-8") as _golden:
    GOLDEN_ERRORS = json.load(_golden)

AMBIGUOUS_ROOM_TEXT = GOLDEN_ERRORS["AMBIGUOUS_ROOM"]["text"]
DRAFT_EXISTS_TEXT = GOLDEN_ERRORS["DRAFT_EXISTS"]["text"]
WRITE_MISMATCH_TEXT = GOLDEN_ERRORS["WRITE_MISMATCH"]["text"]


def error_doc(name):
    """A document that is nothing but the golden entry `name`'s error."""
    return b"".join([b'{"status":"error","error_code":"%s","error":' % name.split()[0].encode(),
                     json_string(GOLDEN_ERRORS[name]["text"]), b"}\n"])


MAIN_WINDOW_NOT_FOUND = error_doc("MAIN_WINDOW_NOT_FOUND")
NEEDS_OPEN_ROOM_SHORT = error_doc("NEEDS_OPEN_ROOM short")
NEEDS_OPEN_ROOM_LONG = error_doc("NEEDS_OPEN_ROOM long")
KAKAO_LOCKED = error_doc("KAKAO_LOCKED")


def success_doc(status, room_title, match_score, window_hwnd, input_hwnd, previous, written,
                remaining="", opened_new_window=False):
    return b"".join([
        b'{"status":"%s","room_title":' % status.encode(), json_string(room_title),
        b',"match_score":%d,"window_hwnd":%d,"input_hwnd":%d,"opened_new_window":%s,'
        b'"focus_touched":false,"previous_input_text":'
        % (match_score, window_hwnd, input_hwnd, b"true" if opened_new_window else b"false"),
        json_string(previous), b',"written_text":', json_string(written),
        b',"remaining_input_text":', json_string(remaining), b"}\n"])


def ambiguous_room_doc(top_score, titles):
    return b"".join([
        b'{"status":"error","error_code":"AMBIGUOUS_ROOM","top_score":%d,"error":' % top_score,
        json_string(AMBIGUOUS_ROOM_TEXT), b',"candidates":[',
        b",".join(json_string(t) for t in titles), b"]}\n"])


def draft_exists_doc(room_title, existing_draft):
    return b"".join([
        b'{"status":"error","error_code":"DRAFT_EXISTS","room_title":', json_string(room_title),
        b',"existing_draft":', json_string(existing_draft),
        b',"error":', json_string(DRAFT_EXISTS_TEXT), b"}\n"])


def write_mismatch_doc(room_title, written_text):
    return b"".join([
        b'{"status":"error","error_code":"WRITE_MISMATCH","room_title":', json_string(room_title),
        b',"written_text":', json_string(written_text),
        b',"error":', json_string(WRITE_MISMATCH_TEXT), b"}\n"])


def crlf(text):
    """A text as a Wine RichEdit reports it: every line break as CR LF."""
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")


MAX_READ_UNITS = 1048576


def read_wparam(reported):
    """WM_GETTEXT's wParam for a box that reported `reported` units: room for
    two units per reported one (a line break counted once may come back as
    CR LF), within the cap, and the terminator."""
    return min(2 * reported, MAX_READ_UNITS) + 1
