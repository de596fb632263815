#!/usr/bin/python3
"""A name server on 127.0.0.1:53 that answers every query at once with
"no such name", for servers that look up their clients' host names and
cannot be told not to (ircd-hybrid): without it, each of their clients
waits for the lookup to time out on a network of loopback only.

  tests/purple/no_dns.py
"""

import socket

NXDOMAIN = 3


def main():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 53))
    while True:
        query, peer = sock.recvfrom(512)
        if len(query) < 12:
            continue
        # The query's id, the answer flag, its recursion flag, the error code;
        # its question kept, no records.
        flags = 0x8000 | (query[2] & 0x01) << 8 | 0x80 | NXDOMAIN
        sock.sendto(query[:2] + flags.to_bytes(2, "big") + query[4:6] + bytes(6) + query[12:], peer)


if __name__ == "__main__":
    main()
