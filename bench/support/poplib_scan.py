#!/usr/bin/env python3
"""Header scan of a POP3 mailbox with python3's poplib, as a yardstick for our client.

Runs connect, USER, PASS, STAT, TOP n 0 for every message (optionally DELE for the
numbers given), QUIT, and prints one JSON object on stdout:
  {"messages": M, "header_lines": H, "deleted": D, "seconds": T}
T covers everything from connect to the end of QUIT.

  poplib_scan.py --host 127.0.0.1 --port 11000 --user bench --password secret [--dele 3,7]
                 [--tls CAFILE]

With --tls the connection is POP3 over TLS (poplib.POP3_SSL), verified against CAFILE.
"""
import argparse
import json
import poplib
import ssl
import sys
import time


def scan(host, port, user, password, dele, cafile):
    start = time.perf_counter()
    if cafile:
        context = ssl.create_default_context(cafile=cafile)
        pop = poplib.POP3_SSL(host, port, context=context, timeout=60)
    else:
        pop = poplib.POP3(host, port, timeout=60)
    pop.user(user)
    pop.pass_(password)
    count, _size = pop.stat()
    header_lines = 0
    deleted = 0
    for n in range(1, count + 1):
        _resp, lines, _octets = pop.top(n, 0)
        header_lines += len(lines)
        if n in dele:
            pop.dele(n)
            deleted += 1
    pop.quit()
    seconds = time.perf_counter() - start
    return {"messages": count, "header_lines": header_lines, "deleted": deleted,
            "seconds": seconds}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--dele", default="", help="comma-separated message numbers to delete")
    parser.add_argument("--tls", default="", metavar="CAFILE", help="POP3 over TLS")
    args = parser.parse_args()
    dele = {int(n) for n in args.dele.split(",") if n.strip()}
    try:
        result = scan(args.host, args.port, args.user, args.password, dele, args.tls)
    except (OSError, poplib.error_proto) as e:
        print("poplib scan failed: %s" % e, file=sys.stderr)
        return 1
    print(json.dumps(result))
    return 0


if __name__ == "__main__":
    sys.exit(main())
