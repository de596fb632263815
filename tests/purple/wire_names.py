#!/usr/bin/env python3
"""Looks for names in what a chat server wrote down of an exchange.

    wire_names.py LOG... -- NAME...

Reads each LOG as text and finds every piece of the plug-in's wire form in
it: the text form ("ZFS2 <id> <index>/<count> <kind> <flags> <payload>", as
IRC carries it) and the XMPP element (<piece xmlns=... id= index= count=
kind= flags=>payload</piece>). Pieces are put back together by id; a whole
frame is inflated when its flags say so and read as UTF-16 (low byte
first). Prints "found NAME in LOG" for a NAME in a log's own text, "found
NAME in frame ID of kind K" for one in a frame's text, and last
"frames N kinds K,..." (how many whole frames were read, of which kinds),
so that a run that read nothing can be told from one that found nothing.
"""
import base64
import re
import sys
import zlib

TEXT_FORM = re.compile(r"ZFS2 ([0-9a-f]{8}) (\d+)/(\d+) (\d+) (\d+)(?: ([A-Za-z0-9+/=]+))?")
ELEMENT = re.compile(r"<piece\b([^>]*)>([A-Za-z0-9+/=]*)</piece>")
ATTRIBUTE = re.compile(r"""(\w+)=['"]([^'"]*)['"]""")


def pieces(text):
    for m in TEXT_FORM.finditer(text):
        yield m.group(1), int(m.group(2)), int(m.group(3)), int(m.group(4)), int(m.group(5)), m.group(6) or ""
    for m in ELEMENT.finditer(text):
        a = dict(ATTRIBUTE.findall(m.group(1)))
        try:
            yield a["id"], int(a["index"]), int(a["count"]), int(a["kind"]), int(a["flags"]), m.group(2)
        except (KeyError, ValueError):
            continue


def main():
    args = sys.argv[1:]
    split = args.index("--")
    logs, names = args[:split], args[split + 1:]
    frames = {}
    for log in logs:
        with open(log, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for name in names:
            if name in text:
                print(f"found {name} in {log}")
        for fid, index, count, kind, flags, payload in pieces(text):
            frame = frames.setdefault(fid, {"count": count, "kind": kind, "flags": flags, "parts": {}})
            frame["parts"][index] = payload
    kinds = set()
    read = 0
    for fid, frame in frames.items():
        if len(frame["parts"]) != frame["count"]:
            continue
        try:
            data = b"".join(base64.b64decode(frame["parts"][i]) for i in range(frame["count"]))
            if frame["flags"] & 1:
                data = zlib.decompress(data)
        except (ValueError, zlib.error, KeyError):
            continue
        read += 1
        kinds.add(frame["kind"])
        shown = data[: len(data) // 2 * 2].decode("utf-16-le", errors="replace")
        for name in names:
            if name in shown or name.encode() in data:
                print(f"found {name} in frame {fid} of kind {frame['kind']}")
    print(f"frames {read} kinds {','.join(str(k) for k in sorted(kinds))}")


if __name__ == "__main__":
    main()
