"""Hostile request files, made at test time so that the repository stays small.

hostile_requests(room, draft) gives (name, bytes, expected) rows for a client
with one open room titled `room` whose box holds `draft`; `expected` is the
error code or status the run must end in, or None when any well-formed
document will do. No row sets `send` to true in a way the reader could see,
so no row may ever make the client send anything.

    python3 -m hostile.requests DIR    writes every row to DIR/<name>.json
"""

import os
import random
import sys

MIB = 1024 * 1024
SEED = 20261207

# Tokens the request reader acts on, for the spliced rows. "send" is left
# out on purpose: these rows must never ask for a send.
TOKENS = [b'"room"', b'"resolved_name"', b'"tab"', b'"message"', b'"ui_mode"', b'"append"',
          b'"clear"', b'"force"', b'"close_after"', b"true", b"false", b"null", b":", b",", b"{",
          b"}", b'"', b'\\"', b"\\\\", b"\\u", b"\\uD800", b"\\u0000", b"\\n", b"\xef\xbb\xbf",
          b"\xec\xb9\xb4\xed\x86\xa1", b" ", b"\r\n"]


def random_bytes(rng, size):
    return bytes(rng.getrandbits(8) for _ in range(size)) if size < 65536 else rng.randbytes(size)


def spliced(rng, count):
    """Reader tokens and random bytes in random order."""
    parts = []
    for _ in range(count):
        parts.append(rng.choice(TOKENS) if rng.random() < 0.7 else random_bytes(rng, rng.randint(1, 8)))
    return b"".join(parts)


def nested(levels, inner):
    return b'{"a":' * levels + inner + b"}" * levels


def hostile_requests(room, draft):
    r = room.encode("utf-8")
    d = draft.encode("utf-8")
    rng = random.Random(SEED)
    rows = [
        ("empty", b"", "DRAFT_EXISTS"),
        ("invalid_utf8_room", b'{"room":"' + r[:2] + b"\xff\xfe" + r[2:] + b'\xc3"}', "NEEDS_OPEN_ROOM"),
        ("nul_hides_the_rest", b'{"room":"' + r + b'"\x00,"send":true,"message":"x","force":true}',
         "DRAFT_EXISTS"),
        ("utf16le_bom", ('\ufeff{"room":"%s","message":"x","force":true}' % room).encode("utf-16-le"),
         "DRAFT_EXISTS"),
        ("utf16be_bom", ('\ufeff{"room":"%s","message":"x","force":true}' % room).encode("utf-16-be"),
         "DRAFT_EXISTS"),
        ("nested_100000", nested(100000, b'{"room":"' + r + b'","message":"' + d + b'"}'), "draft_written"),
        ("key_as_a_value", b'{"message":"room","room":"' + r + b'"}', "DRAFT_EXISTS"),
        ("send_key_as_a_value", b'{"tab":"send","message":"send","room":"' + r + b'"}', "DRAFT_EXISTS"),
        ("escaped_key_in_a_string", b'{"room":"' + r + b'","message":"' + d + b'","note":"\\"force\\":true"}',
         "draft_written"),
        ("lone_surrogate_room", b'{"room":"\\uDC00' + r + b'"}', "NEEDS_OPEN_ROOM"),
        ("unterminated_string", b'{"room":"' + r + b'","message":"abc', "DRAFT_EXISTS"),
        ("backslash_at_the_end", b'{"room":"' + r + b'","message":"abc\\', "DRAFT_EXISTS"),
        ("unicode_escape_cut_short", b'{"room":"' + r + b'","message":"abc\\u4', "DRAFT_EXISTS"),
        ("colons_without_values", b'{"room"' + b":" * 100000, "DRAFT_EXISTS"),
        ("room_of_10mib", b'{"room":"' + b"A" * (10 * MIB) + b'","message":"x"}', "NEEDS_OPEN_ROOM"),
        ("unterminated_10mib", b'{"message":"' + b"\xea\xb0\x80" * (10 * MIB // 3), "DRAFT_EXISTS"),
        ("escapes_10mib", b'{"message":"' + b"\\u00e9\\n\\\\" * (10 * MIB // 10) + b'"}', "DRAFT_EXISTS"),
        ("random_10mib", random_bytes(rng, 10 * MIB), None),
    ]
    for size in (16, 512, 4096, 65536):
        rows.append(("random_%d" % size, random_bytes(rng, size), None))
    for i in range(8):
        rows.append(("spliced_%d" % i, spliced(rng, rng.randint(10, 400)), None))
    return rows


# Rows that write into the room's box, with the outcome and a pattern of the
# text read back (how many U+FFFD an invalid sequence becomes is the
# converter's affair); the box is set back to its draft after each.
def writing_requests(room):
    r = room.encode("utf-8")
    return [
        ("invalid_utf8_message", b'{"room":"' + r + b'","message":"a\xffb\xe0\x80c","force":true}',
         "draft_written", "^a\ufffd+b\ufffd+c$"),
        ("lone_surrogates_message", b'{"room":"' + r + b'","message":"a\\uD800b\\uDFFFc","force":true}',
         "draft_written", "^a\ufffd+b\ufffd+c$"),
        # Longer than any read of a box (1 Mi units): it can never verify.
        ("message_of_10mib", b'{"room":"' + r + b'","force":true,"message":"' + b"x" * (10 * MIB) + b'"}',
         "WRITE_MISMATCH", None),
    ]


def main(argv):
    out = argv[1] if len(argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    for name, data, *_ in hostile_requests("Target", "keep") + writing_requests("Target"):
        with open(os.path.join(out, name + ".json"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv)
