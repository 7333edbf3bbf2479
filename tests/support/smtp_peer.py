#!/usr/bin/python3
"""A scripted raw TCP peer on loopback for the faults a real SMTP server never makes.

  --scenario silent          accepts and never says a word
  --scenario garbage         greets with a line that is not SMTP
  --scenario long-reply      answers MAIL FROM with one 100 kB 550 line
  --scenario close-mid-data  says 354 to DATA, reads a little content, closes
  --scenario close-at-end    reads the whole content, closes without a reply
  --scenario silent-quit     accepts the message, then never answers QUIT
  --scenario bad-tls         offers STARTTLS, then sends bytes that are not TLS

It prints "PORT <n>" once it listens, serves connections one after another
until it is terminated, and appends a line to DIR/connections.log for each.
"""

import argparse
import os
import socket
import sys

LONG_TEXT = "5.7.1 " + "x" * 100_000


def lines(conn):
    buffer = b""
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            return
        buffer += chunk
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            yield line.rstrip(b"\r")


def say(conn, text):
    conn.sendall(text.encode() + b"\r\n")


def wait_for_close(conn):
    while conn.recv(65536):
        pass


def dialogue(conn, scenario):
    if scenario == "silent":
        wait_for_close(conn)
        return
    if scenario == "garbage":
        say(conn, "HELLO THIS IS NOT A MAIL SERVER")
        wait_for_close(conn)
        return
    say(conn, "220 peer ready")
    in_data = False
    content = 0
    for line in lines(conn):
        if in_data:
            content += len(line) + 2
            if scenario == "close-mid-data" and content > 200:
                return
            if line == b".":
                in_data = False
                if scenario == "close-at-end":
                    return
                say(conn, "250 accepted")
            continue
        verb = line.split(b" ", 1)[0].upper()
        if verb in (b"EHLO", b"HELO"):
            say(conn, "250-peer\r\n250-STARTTLS\r\n250 8BITMIME" if scenario == "bad-tls" else "250-peer\r\n250 8BITMIME")
        elif verb == b"STARTTLS":
            say(conn, "220 go ahead")
            conn.sendall(b"this is not a TLS handshake\r\n" * 4)
            wait_for_close(conn)
            return
        elif verb == b"MAIL":
            say(conn, "550 " + LONG_TEXT if scenario == "long-reply" else "250 ok")
        elif verb == b"RCPT":
            say(conn, "250 ok")
        elif verb == b"DATA":
            say(conn, "354 go on")
            in_data = True
        elif verb == b"QUIT":
            if scenario == "silent-quit":
                wait_for_close(conn)
                return
            say(conn, "221 bye")
            return
        else:
            say(conn, "502 unknown")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--scenario", required=True)
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(8)
    print(f"PORT {listener.getsockname()[1]}", flush=True)
    while True:
        conn, _ = listener.accept()
        with open(os.path.join(args.dir, "connections.log"), "a") as log:
            log.write("connection\n")
        try:
            dialogue(conn, args.scenario)
        except OSError:
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    sys.exit(main())
