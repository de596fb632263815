#!/usr/bin/python3
"""Measures what a chat server lets one client send: for IRC the burst and
rate of PRIVMSG, NOTICE and CTCP lines before they are delayed or the sender
is disconnected, the delivery latency and the longest line delivered; for
XMPP the largest stanza accepted and the shaper (burst and rate). Two plain
clients on 127.0.0.1: one sends, one records what arrives and when.

  tests/purple/flood.py irc NAME [PORT]
  tests/purple/flood.py xmpp NAME [PORT]

NAME only labels the output. The XMPP accounts ann and bob (password "pw",
domain "localhost") must exist; start the servers with tests/purple/servers.sh
in a loopback namespace (tests/purple/measure-servers does). Prints one line
per measurement, "NAME KIND key=value...".
"""

import base64
import socket
import sys
import threading
import time
import xml.etree.ElementTree as ET

LINE_TEXT = 400  # the text of one test line, in bytes


def now():
    return time.monotonic()


def chunks(sock):
    """What arrives on SOCK, piece by piece, until it is closed."""
    while True:
        try:
            data = sock.recv(65536)
        except OSError:
            return
        if not data:
            return
        yield data


# --- IRC ---------------------------------------------------------------------


class Irc:
    """One registered IRC client; a thread records every line it receives."""

    def __init__(self, port, nick):
        self.nick = nick
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.lines = []  # (time, line)
        self.closed_at = None
        self.welcome = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()
        self.send(f"NICK {nick}")
        self.send(f"USER {nick} 0 * :{nick}")
        if not self.welcome.wait(30):
            raise RuntimeError(f"{nick} was not welcomed: {self.lines[-3:]}")

    def send(self, line):
        self.sock.sendall(line.encode() + b"\r\n")

    def _read(self):
        buffer = b""
        for data in chunks(self.sock):
            buffer += data
            *complete, buffer = buffer.split(b"\r\n")
            for raw in complete:
                line = raw.decode(errors="replace")
                self.lines.append((now(), line))
                if line.startswith("PING"):
                    self.send("PONG" + line[4:])
                elif line.split(" ")[1:2] == ["001"]:
                    self.welcome.set()
        self.closed_at = now()

    def error(self):
        """The server's reason for closing the link, if it did."""
        for _, line in self.lines:
            if line.startswith("ERROR"):
                return line.split(":", 1)[-1].replace(" ", "_")
        return "closed" if self.closed_at else ""

    def close(self):
        try:
            self.send("QUIT :done")
            self.sock.close()
        except OSError:
            pass


# What a test line is sent as: a message, a notice, a CTCP request (a
# PRIVMSG between \x01) or a CTCP reply (the same in a NOTICE).
COMMANDS = {"privmsg": "PRIVMSG", "notice": "NOTICE", "ctcp": "PRIVMSG", "ctcp-reply": "NOTICE"}


def irc_line(kind, target, seq, size=LINE_TEXT):
    text = f"{seq:05d} " + "x" * (size - 6)
    if kind.startswith("ctcp"):
        text = f"\x01ZFS {text[: size - 6]}\x01"
    return f"{COMMANDS[kind]} {target} :{text}"


def received(sink, since=0.0):
    """{seq: arrival time} of the test lines the sink got."""
    got = {}
    for t, line in sink.lines:
        if t < since or " :" not in line:
            continue
        text = line.split(" :", 1)[1].lstrip("\x01").removeprefix("ZFS ")
        if text[:5].isdigit() and text[5:6] == " ":
            got.setdefault(int(text[:5]), t)
    return got


def irc_pair(port, run):
    sink = Irc(port, f"sink{run}")
    sender = Irc(port, f"flood{run}")
    # What registration cost the sender drains away first.
    time.sleep(12)
    return sink, sender


def irc_burst(name, port, kind, count, run):
    """COUNT lines at once: how many arrive at once, then at what rate, and
    whether the sender is disconnected."""
    sink, sender = irc_pair(port, run)
    start = now()
    sent = 0
    for seq in range(count):
        try:
            sender.send(irc_line(kind, sink.nick, seq))
            sent += 1
        except OSError:
            break
    deadline = start + 40
    while now() < deadline and len(received(sink)) < sent and not sender.closed_at:
        time.sleep(0.1)
    time.sleep(2)
    got = received(sink)
    times = sorted(t - start for t in got.values())
    at_once = sum(1 for t in times if t < 0.5)
    late = times[at_once:]
    rate = (len(late) - 1) / (late[-1] - late[0]) if len(late) > 2 and late[-1] > late[0] else 0
    cut = f"{sender.closed_at - start:.1f}" if sender.closed_at else "-"
    print(f"{name} burst kind={kind} sent={count} delivered={len(got)} at_once={at_once} "
          f"then_per_s={rate:.2f} last_s={times[-1] if times else 0:.1f} "
          f"disconnected_s={cut} reason={sender.error() or '-'}", flush=True)
    sink.close()
    sender.close()


def irc_paced(name, port, kind, per_second, count, run):
    """COUNT lines at PER_SECOND: their delivery latency, and whether the
    sender is disconnected."""
    sink, sender = irc_pair(port, run)
    sent_at = {}
    start = now()
    for seq in range(count):
        time.sleep(max(0.0, start + seq / per_second - now()))
        if sender.closed_at:
            break
        sent_at[seq] = now()
        sender.send(irc_line(kind, sink.nick, seq))
    deadline = now() + 30
    while now() < deadline and len(received(sink)) < len(sent_at) and not sender.closed_at:
        time.sleep(0.1)
    got = received(sink)
    latency = sorted(got[s] - sent_at[s] for s in got)
    median = latency[len(latency) // 2] if latency else 0
    print(f"{name} paced kind={kind} per_s={per_second} sent={len(sent_at)} delivered={len(got)} "
          f"latency_median_ms={median * 1000:.0f} latency_max_ms={(latency[-1] if latency else 0) * 1000:.0f} "
          f"reason={sender.error() or '-'}", flush=True)
    sink.close()
    sender.close()


def irc_line_length(name, port, run):
    """How much of one PRIVMSG's text arrives, for texts of several lengths
    (a line holds 512 bytes with its command and CR LF)."""
    sink, sender = irc_pair(port, run)
    sizes = (400, 450, 470, 480, 490, 500, 600)
    for seq, size in enumerate(sizes):
        sender.send(irc_line("privmsg", sink.nick, seq, size))
        time.sleep(1.5)
    got = {}
    for _, line in sink.lines:
        if " PRIVMSG " in line and " :" in line:
            text = line.split(" :", 1)[1]
            if text[:5].isdigit():
                got[int(text[:5])] = len(text.encode())
    prefix = next((len(line.split(" PRIVMSG ")[0]) for _, line in sink.lines if " PRIVMSG " in line), 0)
    shown = " ".join(f"{size}:{got.get(seq, 0)}" for seq, size in enumerate(sizes))
    print(f"{name} line sent:delivered={shown} relay_prefix_bytes={prefix} "
          f"reason={sender.error() or '-'}", flush=True)
    sink.close()
    sender.close()


def measure_irc(name, port):
    run = iter(range(100))
    irc_line_length(name, port, next(run))
    # A burst within the recvq shows the rate after it; a large one whether
    # the server holds lines back or drops the sender.
    irc_burst(name, port, "privmsg", 15, next(run))
    for kind in COMMANDS:
        irc_burst(name, port, kind, 60, next(run))
    for per_second in (1, 2, 4):
        irc_paced(name, port, "privmsg", per_second, 30, next(run))


# --- XMPP --------------------------------------------------------------------

STREAM = ("<?xml version='1.0'?><stream:stream to='localhost' version='1.0' "
          "xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'>")


class Xmpp:
    """One signed-on XMPP client with plain authentication; a thread records
    every stanza it receives."""

    def __init__(self, port, user, resource="flood"):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.stanzas = []  # (time, element)
        self.closed_at = None
        self.error = ""
        self.cond = threading.Condition()
        self._new_parser()
        threading.Thread(target=self._read, daemon=True).start()
        self.send(STREAM)
        self.wait_for("{http://etherx.jabber.org/streams}features")
        auth = base64.b64encode(f"\0{user}\0pw".encode()).decode()
        self.send(f"<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='PLAIN'>{auth}</auth>")
        self.wait_for("{urn:ietf:params:xml:ns:xmpp-sasl}success")
        self._new_parser()
        self.send(STREAM)
        self.wait_for("{http://etherx.jabber.org/streams}features")
        self.send(f"<iq type='set' id='bind'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
                  f"<resource>{resource}</resource></bind></iq>")
        self.wait_for("{jabber:client}iq")
        self.send("<iq type='set' id='session'><session xmlns='urn:ietf:params:xml:ns:xmpp-session'/></iq>")
        self.send("<presence/>")
        self.jid = f"{user}@localhost/{resource}"

    def _new_parser(self):
        self.parser = ET.XMLPullParser(events=("start", "end"))
        self.depth = 0

    def send(self, text):
        self.sock.sendall(text.encode())

    def _read(self):
        for data in chunks(self.sock):
            self.parser.feed(data)
            for event, element in self.parser.read_events():
                self.depth += 1 if event == "start" else -1
                if event == "end" and self.depth == 1:
                    with self.cond:
                        self.stanzas.append((now(), element))
                        if element.tag == "{http://etherx.jabber.org/streams}error":
                            self.error = ",".join(child.tag.split("}")[-1] for child in element)
                        self.cond.notify_all()
        with self.cond:
            self.closed_at = now()
            self.cond.notify_all()

    def wait_for(self, tag, timeout=20):
        with self.cond:
            ok = self.cond.wait_for(
                lambda: self.closed_at or any(e.tag == tag for _, e in self.stanzas), timeout)
            found = [e for _, e in self.stanzas if e.tag == tag]
            if not ok or not found:
                raise RuntimeError(f"no {tag}: {self.error or 'closed'}")
            self.stanzas = []

    def message(self, to, seq, size):
        """Sends a message with a SIZE-byte body; returns the stanza's size."""
        body = f"{seq:05d} " + "x" * (size - 6)
        stanza = f"<message to='{to}' type='chat'><body>{body}</body></message>"
        self.send(stanza)
        return len(stanza)

    def close(self):
        try:
            self.send("</stream:stream>")
            self.sock.close()
        except OSError:
            pass


def xmpp_arrivals(sink):
    got = {}
    for t, element in list(sink.stanzas):
        body = element.find("{jabber:client}body")
        if body is not None and body.text and body.text[:5].isdigit():
            got.setdefault(int(body.text[:5]), (t, len(body.text)))
    return got


def xmpp_accepts(port, size):
    """Whether a message with a SIZE-byte body reaches the other account."""
    sink = Xmpp(port, "bob", "sink")
    sender = Xmpp(port, "ann")
    time.sleep(0.5)
    sender.message(sink.jid, 1, size)
    deadline = now() + 300
    while now() < deadline and not xmpp_arrivals(sink) and not sender.closed_at:
        time.sleep(0.05)
    ok = bool(xmpp_arrivals(sink))
    reason = sender.error or ("closed" if sender.closed_at else "-")
    sink.close()
    sender.close()
    return ok, reason


def xmpp_stanza_limit(name, port):
    """The largest body of those tried that gets through, and the smallest
    refused (each try sends the whole stanza through the shaper)."""
    largest, refused, reason = 0, 0, "-"
    for size in (65_000, 200_000, 250_000, 261_000, 262_100, 263_000, 266_000, 270_000, 1_000_000):
        ok, why = xmpp_accepts(port, size)
        if not ok:
            refused, reason = size, why
            break
        largest = size
    print(f"{name} stanza largest_body={largest} refused_body={refused or '-'} reason={reason}", flush=True)


def xmpp_shaper(name, port, total=200_000, size=4000):
    """About TOTAL bytes of messages sent at once: how much arrives at once,
    then at what rate (stanza bytes as sent)."""
    sink = Xmpp(port, "bob", "sink")
    sender = Xmpp(port, "ann")
    time.sleep(3)
    start = now()
    count = total // size
    for seq in range(count):
        size_sent = sender.message(sink.jid, seq, size)
    size = size_sent
    deadline = now() + 120
    while now() < deadline and len(xmpp_arrivals(sink)) < count and not sender.closed_at:
        time.sleep(0.1)
    got = sorted(xmpp_arrivals(sink).values())
    at_once = [t for t, _ in got if t - start < 0.5]
    late = [t for t, _ in got if t - start >= 0.5]
    rate = (len(late) - 1) * size / (late[-1] - late[0]) if len(late) > 2 else 0
    print(f"{name} shaper sent_bytes={count * size} delivered_bytes={len(got) * size} "
          f"at_once_bytes={len(at_once) * size} then_bytes_per_s={rate:.0f} "
          f"last_s={(got[-1][0] - start) if got else 0:.1f} reason={sender.error or '-'}", flush=True)
    sink.close()
    sender.close()


def measure_xmpp(name, port):
    xmpp_stanza_limit(name, port)
    xmpp_shaper(name, port)


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("irc", "xmpp"):
        sys.exit(__doc__)
    kind, name = sys.argv[1], sys.argv[2]
    port = int(sys.argv[3]) if len(sys.argv) > 3 else (6667 if kind == "irc" else 5222)
    (measure_irc if kind == "irc" else measure_xmpp)(name, port)


if __name__ == "__main__":
    main()
