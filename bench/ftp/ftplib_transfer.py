#!/usr/bin/env python3
"""One transfer with python3's ftplib in active mode, the yardstick of bench_ftp.

Logs in anonymously, changes to the folder and sets TYPE I untimed, then times
retrbinary (into a local file) or storbinary (from one) and QUIT is sent untimed.
Prints {"seconds": ..., "bytes": ...} as JSON.
"""
import argparse
import ftplib
import json
import time


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--host", required=True)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--folder", required=True)
    p.add_argument("--mode", choices=["get", "put"], required=True)
    p.add_argument("--remote", required=True)
    p.add_argument("--local", required=True)
    a = p.parse_args()

    ftp = ftplib.FTP()
    ftp.connect(a.host, a.port)
    ftp.login("anonymous", "bench@example.com")
    ftp.set_pasv(False)
    ftp.cwd(a.folder)
    ftp.voidcmd("TYPE I")
    count = 0
    if a.mode == "get":
        with open(a.local, "wb") as out:
            def write(block):
                nonlocal count
                count += len(block)
                out.write(block)
            start = time.perf_counter()
            ftp.retrbinary("RETR " + a.remote, write)
            seconds = time.perf_counter() - start
    else:
        with open(a.local, "rb") as src:
            start = time.perf_counter()
            ftp.storbinary("STOR " + a.remote, src)
            seconds = time.perf_counter() - start
            count = src.tell()
    ftp.quit()
    print(json.dumps({"seconds": seconds, "bytes": count}))


if __name__ == "__main__":
    main()
