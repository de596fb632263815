#!/usr/bin/python3
"""A second resource of an XMPP account that watches what the account's
other clients exchange: it enables message carbons (XEP-0280), prints every
stanza it receives, and on request what the server's message archive (XEP-0313)
holds for the account.

  tests/purple/xmpp_observer.py JID PASSWORD [--priority N]

It signs on to 127.0.0.1:5222 (plain authentication allowed on an unencrypted
stream, as on the test servers), with priority N (default -1, so that
messages sent to the bare address still go to the account's other clients),
then reads commands from its standard input, as purple_peer does:

  mark NAME   prints "mark NAME" (a place in the output)
  archive     asks the archive for everything it keeps for the account
  quit        signs off and exits 0

and prints, one line each, prefixed with the wall clock in milliseconds:

  T mark NAME
  T observer online | error TEXT
  T observer carbons on | carbons off TEXT
  T observer stanza XML                   every stanza received, on one line
  T observer ping FROM NAME               a purple_peer ping (also as a carbon)
  T observer archive XML                  one archived message
  T observer archive-end N | archive-none TEXT
"""

import asyncio
import logging
import sys
import threading
import time

import slixmpp
from slixmpp.exceptions import IqError, IqTimeout

PING = "zuvo-peer-ping "


def emit(text, who="observer "):
    print(f"{int(time.time() * 1000)} {who}{text}", flush=True)


def one_line(stanza):
    return str(stanza).replace("\n", "&#10;").replace("\r", "&#13;")


class Observer(slixmpp.ClientXMPP):
    def __init__(self, jid, password, priority):
        super().__init__(jid, password)
        self.priority = priority
        for plugin in ("xep_0030", "xep_0199", "xep_0280", "xep_0297", "xep_0313"):
            self.register_plugin(plugin)
        self.add_event_handler("session_start", self.start)
        self.add_event_handler("failed_auth", lambda _: emit("error authentication failed"))
        self.add_filter("in", self.record)

    def record(self, stanza):
        emit("stanza " + one_line(stanza))
        if stanza.name == "message":
            self.note_ping(stanza)
            for kind in ("carbon_received", "carbon_sent"):
                if stanza.xml.find(f"{{urn:xmpp:carbons:2}}{kind.split('_')[1]}") is not None:
                    self.note_ping(stanza[kind])
        return stanza

    @staticmethod
    def note_ping(message):
        body = message["body"]
        if body.startswith(PING):
            emit(f"ping {message['from'].bare} {body[len(PING):]}")

    async def start(self, _):
        self.send_presence(ppriority=self.priority)
        await self.get_roster()
        try:
            await self["xep_0280"].enable()
            emit("carbons on")
        except (IqError, IqTimeout) as error:
            emit(f"carbons off {condition(error)}")
        emit("online")

    async def archive(self):
        count = 0
        page = {"max": "100"}
        try:
            while True:
                result = await self["xep_0313"].retrieve(rsm=page)
                for message in result["mam"]["results"]:
                    emit("archive " + one_line(message["mam_result"]["forwarded"]["stanza"]))
                    count += 1
                last = result["mam_fin"]["rsm"]["last"]
                if result["mam_fin"]["complete"] or not last or not result["mam"]["results"]:
                    break
                page = {"max": "100", "after": last}
        except (IqError, IqTimeout) as error:
            emit(f"archive-none {condition(error)}")
            return
        emit(f"archive-end {count}")

    async def command(self, line):
        words = line.split()
        if not words:
            return
        if words[0] == "mark" and len(words) == 2:
            emit(f"mark {words[1]}", who="")
        elif words[0] == "archive":
            await self.archive()
        elif words[0] == "quit":
            self.disconnect()
        else:
            emit(f"error unknown command: {line}")


def condition(error):
    if isinstance(error, IqTimeout):
        return "timeout"
    return error.iq["error"]["condition"] or "error"


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    priority = int(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[3] == "--priority" else -1
    logging.basicConfig(level=logging.ERROR)
    observer = Observer(sys.argv[1], sys.argv[2], priority)
    observer["feature_mechanisms"].unencrypted_plain = True
    loop = asyncio.get_event_loop()

    # Commands come from a thread that reads the standard input; they run in
    # order on the event loop.
    commands = asyncio.Queue()

    def read_input():
        for line in sys.stdin:
            loop.call_soon_threadsafe(commands.put_nowait, line.strip())
        loop.call_soon_threadsafe(commands.put_nowait, "quit")

    async def run_commands():
        while True:
            await observer.command(await commands.get())

    threading.Thread(target=read_input, daemon=True).start()
    loop.create_task(run_commands())
    observer.connect(("127.0.0.1", 5222), force_starttls=False, disable_starttls=True)
    observer.add_event_handler("disconnected", lambda _: loop.stop())
    loop.run_forever()


if __name__ == "__main__":
    main()
