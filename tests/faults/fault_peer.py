#!/usr/bin/python3
"""A raw SMTP peer on loopback for the faults that tests/support's peers do not make.

  --scenario greet-silent     greets, then never answers anything
  --scenario close-421        answers RCPT TO with 421 and closes the connection
  --scenario helo-only        rejects EHLO with 500, takes HELO, accepts the message
  --scenario reset-after-data reads the whole content after 354, then resets the connection
  --scenario slow-drip        sends every reply one byte at a time, spread over --drip seconds,
                              and accepts the message

It prints "PORT <n>" once it listens and serves connections one after another
until it is terminated. For each connection it appends a line to
DIR/connections.log before it greets; for each message it accepts it appends
"MAIL FROM RCPT [RCPT ...] SIZE" to DIR/accepted.log before it answers the end of data.
"""

import argparse
import os
import socket
import struct
import sys
import time


class Peer:
    def __init__(self, conn, scenario, drip, directory):
        self.conn = conn
        self.scenario = scenario
        self.drip = drip
        self.directory = directory
        self.buffer = b""

    def line(self):
        while b"\n" not in self.buffer:
            chunk = self.conn.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.rstrip(b"\r")

    def say(self, text):
        data = text.encode() + b"\r\n"
        if self.scenario != "slow-drip":
            self.conn.sendall(data)
            return
        pause = self.drip / len(data)
        for i in range(len(data)):
            self.conn.sendall(data[i:i + 1])
            time.sleep(pause)

    def wait_for_close(self):
        while self.conn.recv(65536):
            pass

    def reset(self):
        # SO_LINGER with a zero timeout makes close() send RST instead of FIN.
        self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))

    def record(self, sender, recipients, size):
        with open(os.path.join(self.directory, "accepted.log"), "a") as log:
            log.write(" ".join([sender] + recipients + [str(size)]) + "\n")

    def content(self):
        size = 0
        while True:
            line = self.line()
            if line is None or line == b".":
                return size, line is not None
            size += len(line) + 2

    def dialogue(self):
        self.say("220 fault peer ready")
        if self.scenario == "greet-silent":
            self.wait_for_close()
            return
        sender, recipients = "", []
        while True:
            line = self.line()
            if line is None:
                return
            verb = line.split(b" ", 1)[0].upper()
            argument = line[len(verb):].strip().decode("utf-8", "replace")
            if verb == b"EHLO":
                self.say("500 5.5.1 EHLO not understood" if self.scenario == "helo-only" else "250-peer\r\n250 8BITMIME")
            elif verb == b"HELO":
                self.say("250 peer")
            elif verb == b"MAIL":
                sender, recipients = argument, []
                self.say("250 2.1.0 ok")
            elif verb == b"RCPT":
                if self.scenario == "close-421":
                    self.say("421 4.3.2 Service shutting down, closing transmission channel")
                    return
                recipients.append(argument)
                self.say("250 2.1.5 ok")
            elif verb == b"DATA":
                self.say("354 go on")
                size, complete = self.content()
                if not complete:
                    return
                if self.scenario == "reset-after-data":
                    self.reset()
                    return
                self.record(sender, recipients, size)
                self.say("250 2.0.0 accepted")
            elif verb == b"QUIT":
                self.say("221 2.0.0 bye")
                return
            elif verb == b"RSET":
                sender, recipients = "", []
                self.say("250 ok")
            else:
                self.say("502 5.5.2 unknown command")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--scenario", required=True,
                        choices=["greet-silent", "close-421", "helo-only", "reset-after-data", "slow-drip"])
    parser.add_argument("--drip", type=float, default=1.0)
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
            Peer(conn, args.scenario, args.drip, args.dir).dialogue()
        except OSError:
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    sys.exit(main())
