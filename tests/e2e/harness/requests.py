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

MAIN_WINDOW_NOT_FOUND = (
    '{"status":"error","error_code":"MAIN_WINDOW_NOT_FOUND","error":"카카오톡 메인 '
    '창(EVA_Window_Dblclk)을 찾을 수 없습니다."}\n').encode()
NEEDS_OPEN_ROOM_SHORT = (
    '{"status":"error","error_code":"NEEDS_OPEN_ROOM","error":"열려 있는 채팅방이 '
    '없습니다. 카카오톡에서 해당 방을 열어 두세요."}\n').encode()
NEEDS_OPEN_ROOM_LONG = (
    '{"status":"error","error_code":"NEEDS_OPEN_ROOM","error":"열려 있는 대상 채팅방을 '
    '찾을 수 없습니다. 우분투 Wine 환경에서는 포커스\u00b7클립보드 보호를 위해 전역 '
    '단축키(Ctrl+F)를 사용하지 않으므로, 카카오톡에서 해당 채팅방을 한 번 열어 두세요."}\n').encode()
KAKAO_LOCKED = (
    '{"status":"error","error_code":"KAKAO_LOCKED","error":"카카오톡이 잠금(PIN) 모드 '
    '상태입니다. 잠금을 해제해 주세요."}\n').encode()


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
