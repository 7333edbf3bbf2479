#!/usr/bin/python3
"""A scripted raw SMTP peer on loopback for the faults a real SMTP server never makes.

  --scenario normal            a well-behaved server (the default), to be shaped
                               with --delay and --answer
  --scenario silent            accepts the connection and never says a word
  --scenario garbage           greets with a line that is not SMTP
  --scenario greet-silent      greets, then never answers anything
  --scenario helo-only         rejects EHLO with 500, takes HELO, accepts the message
  --scenario long-reply        answers MAIL FROM with one 100 kB 550 line
  --scenario huge-reply        answers MAIL FROM with one 1 MB 550 line
  --scenario close-421         answers RCPT TO with 421 and closes the connection
  --scenario close-mid-data    says 354 to DATA, reads a little content, closes
  --scenario close-after-354   says 354 to DATA and closes at once
  --scenario close-at-end      reads the whole content, closes without a reply
  --scenario reset-after-data  reads the whole content, then resets the connection
  --scenario reset-after-mail  answers MAIL FROM with 250, then resets the
                               connection before RCPT TO can be sent
  --scenario silent-quit       accepts the message, then never answers QUIT
  --scenario bad-tls           offers STARTTLS, then sends bytes that are not TLS
  --scenario tls-silent        offers STARTTLS, says 220 to it, then never a word
  --scenario slow-drip         sends every reply one byte at a time, spread over
                               --drip seconds, and accepts the message
  --scenario greet-close       greets, then closes the connection at once
  --scenario endless-ehlo      answers EHLO with "250-" lines that never end
                               (until the client leaves, or 120 s)
  --scenario unreachable       listens, but its queue is full: a connection is
                               never completed (the SYN goes unanswered)
  --scenario reset             accepts the connection and resets it at once
  --scenario greet-reset       greets, then resets the connection
  --scenario stop-reading      says 354 to DATA, then reads nothing more
  --scenario refuse-mid-data   says 354 to DATA, reads 200 kB of content (or all
                               of it), answers as EOD (421 unless --answer says
                               else) and resets the connection 0.2 s later
  --scenario tls-client-cert   offers STARTTLS and demands a client certificate:
                               TLS 1.3 sends the alert after the handshake
  --scenario tls-plain         offers STARTTLS, completes the handshake, then
                               answers EHLO in plain text inside the TLS stream
  --scenario tls-close-notify  offers STARTTLS, completes the handshake, then
                               answers EHLO with close_notify
                               (these three keep TCP open until the client goes)

  --delay STEP:SECONDS         waits that long before answering STEP: GREETING,
                               EHLO, STARTTLS, MAIL, RCPT, DATA, EOD (the end of
                               data) or QUIT. Repeatable.
  --answer STEP:TEXT           answers STEP with TEXT, "\\n" between lines and
                               Python escapes within them ("\\r", "\\x00"), e.g.
                               "MAIL:354 go ahead". Repeatable. STARTTLS is
                               answered 454 unless a TLS scenario or this says else.
  --answer-for ADDRESS         the RCPT answer applies only to this recipient;
                               the others get 250.
  --close-after STEP           closes the connection right after answering STEP.
                               Repeatable.
  --line-end lf|cr             ends every reply line with LF alone, or CR alone.

It prints "PORT <n>" once it listens and serves connections one after another
until it is terminated. For each connection it appends a line to
DIR/connections.log before anything else; for each message it accepts it
appends the arguments of MAIL and of each RCPT as sent, then the content's
size in octets ("FROM:<a> TO:<b> 312"), to DIR/accepted.log before it answers
the end of data with 2xx.
"""

import argparse
import codecs
import os
import select
import signal
import socket
import ssl
import subprocess
import struct
import sys
import time

TLS_BROKEN_AFTER = ("tls-client-cert", "tls-plain", "tls-close-notify")
SCENARIOS = ["normal", "refuse-mid-data", "close-after-354", *TLS_BROKEN_AFTER, "reset", "greet-reset", "stop-reading", "greet-close", "endless-ehlo", "unreachable", "tls-silent", "huge-reply", "silent", "garbage", "greet-silent", "helo-only", "long-reply", "close-421", "close-mid-data",
             "close-at-end", "reset-after-data", "reset-after-mail", "silent-quit", "bad-tls", "slow-drip"]
LONG_TEXT = "5.7.1 " + "x" * 100_000
HUGE_TEXT = "5.7.1 " + "y" * 1_000_000
STEPS = ("GREETING", "EHLO", "HELO", "STARTTLS", "MAIL", "RCPT", "DATA", "EOD", "QUIT")
ENDLESS_BOUND_SECONDS = 120


def step_rule(text):
    step, value = text.split(":", 1)
    if step not in STEPS:
        raise argparse.ArgumentTypeError(f"unknown step {step!r}")
    return step, value


class Closing(Exception):
    """Raised to close the connection after an answer (--close-after)."""


class Peer:
    def __init__(self, conn, args):
        self.conn = conn
        self.scenario = args.scenario
        self.drip = args.drip
        self.directory = args.dir
        self.delays = {step: float(value) for step, value in args.delay}
        self.answers = {step: "\r\n".join(codecs.decode(line, "unicode_escape") for line in value.split("\\n"))
                        for step, value in args.answer}
        self.close_after = set(args.close_after)
        self.answer_for = args.answer_for
        self.line_end = {"lf": b"\n", "cr": b"\r"}.get(args.line_end, b"\r\n")
        self.buffer = b""

    def answer(self, step, text, scripted=True):
        """Answers STEP with TEXT, or (when `scripted`) with what --answer set for it, after its --delay."""
        time.sleep(self.delays.get(step, 0))
        self.say(self.answers.get(step, text) if scripted else text)
        if step in self.close_after:
            raise Closing()

    def endless_ehlo(self):
        deadline = time.monotonic() + ENDLESS_BOUND_SECONDS
        while time.monotonic() < deadline:
            self.conn.sendall(b"250-PIPELINING\r\n" * 256)

    def line(self):
        """The next line without its line break, or None once the client has closed."""
        while b"\n" not in self.buffer:
            chunk = self.conn.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.rstrip(b"\r")

    def say(self, text):
        data = (text.encode() + b"\r\n").replace(b"\r\n", self.line_end)
        if self.scenario != "slow-drip":
            self.conn.sendall(data)
            return
        pause = self.drip / len(data)
        for i in range(len(data)):
            self.conn.sendall(data[i:i + 1])
            time.sleep(pause)

    def hold(self):
        """Keeps TCP open, reading nothing of TLS, until the client goes (bounded)."""
        deadline = time.monotonic() + ENDLESS_BOUND_SECONDS
        fd = self.conn.fileno()
        while time.monotonic() < deadline:
            if select.select([fd], [], [], 1)[0] and not os.read(fd, 65536):
                return

    def broken_tls(self):
        """The handshake, then the scenario's fault."""
        key, cert = certificate(self.directory)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        if self.scenario == "tls-client-cert":
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(cert)
        self.conn = context.wrap_socket(self.conn, server_side=True, do_handshake_on_connect=False)
        try:
            self.conn.do_handshake()
            self.buffer = b""
            if self.line() is not None and self.scenario == "tls-plain":
                os.write(self.conn.fileno(), b"250 plain text inside TLS\r\n")
            elif self.scenario == "tls-close-notify":
                self.conn.unwrap()
        except (ssl.SSLError, OSError):
            pass
        self.hold()

    def wait_for_close(self):
        while self.conn.recv(65536):
            pass

    def reset(self):
        # SO_LINGER with a zero timeout makes close() send RST instead of FIN.
        self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))

    def reset_after(self, text):
        """Says TEXT and resets the connection right behind it: the reset is armed
        first, so that it follows TEXT by microseconds. Mostly the client, woken
        by TEXT, then fails to send its next command; sometimes the command
        goes out just before the reset and is never answered."""
        self.reset()
        self.conn.sendall(text.encode() + b"\r\n")
        self.conn.close()

    def record(self, sender, recipients, size):
        with open(os.path.join(self.directory, "accepted.log"), "a") as log:
            log.write(" ".join([sender] + recipients + [str(size)]) + "\n")

    def content(self):
        """Reads the message content up to the lone dot: (its size, whether it ended with the dot)."""
        size = 0
        while True:
            line = self.line()
            if line is None:
                return size, False
            if line == b".":
                return size, True
            size += len(line) + 2
            if self.scenario == "close-mid-data" and size > 200:
                return size, False
            if self.scenario == "refuse-mid-data" and size > 200_000:
                return size, False

    def dialogue(self):
        try:
            self.converse()
        except Closing:
            pass

    def converse(self):
        if self.scenario == "reset":
            self.reset()
            return
        if self.scenario == "silent":
            self.wait_for_close()
            return
        if self.scenario == "garbage":
            self.say("HELLO THIS IS NOT A MAIL SERVER")
            self.wait_for_close()
            return
        self.answer("GREETING", "220 peer ready")
        if self.scenario == "greet-close":
            return
        if self.scenario == "greet-reset":
            self.reset()
            return
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
                if self.scenario == "endless-ehlo":
                    self.endless_ehlo()
                    return
                if self.scenario == "helo-only":
                    self.answer("EHLO", "500 5.5.1 EHLO not understood")
                elif self.scenario in ("bad-tls", "tls-silent", *TLS_BROKEN_AFTER):
                    self.answer("EHLO", "250-peer\r\n250-STARTTLS\r\n250 8BITMIME")
                else:
                    self.answer("EHLO", "250-peer\r\n250 8BITMIME")
            elif verb == b"HELO":
                self.answer("HELO", "250 peer")
            elif verb == b"STARTTLS" and self.scenario in ("bad-tls", "tls-silent"):
                self.answer("STARTTLS", "220 go ahead")
                if self.scenario == "bad-tls":
                    self.conn.sendall(b"this is not a TLS handshake\r\n" * 4)
                self.wait_for_close()
                return
            elif verb == b"STARTTLS" and self.scenario in TLS_BROKEN_AFTER:
                self.answer("STARTTLS", "220 go ahead")
                self.broken_tls()
                return
            elif verb == b"STARTTLS":
                self.answer("STARTTLS", "454 4.7.0 TLS not available")
            elif verb == b"MAIL":
                if self.scenario in ("long-reply", "huge-reply"):
                    self.say("550 " + (LONG_TEXT if self.scenario == "long-reply" else HUGE_TEXT))
                    continue
                sender, recipients = argument, []
                if self.scenario == "reset-after-mail":
                    self.reset_after("250 2.1.0 ok")
                    return
                self.answer("MAIL", "250 2.1.0 ok")
            elif verb == b"RCPT":
                if self.scenario == "close-421":
                    self.say("421 4.3.2 Service shutting down, closing transmission channel")
                    return
                recipients.append(argument)
                self.answer("RCPT", "250 2.1.5 ok", not self.answer_for or f"<{self.answer_for}>" in argument)
            elif verb == b"DATA":
                self.answer("DATA", "354 go on")
                if self.scenario == "close-after-354":
                    return
                if self.scenario == "stop-reading":
                    time.sleep(ENDLESS_BOUND_SECONDS)
                    return
                size, complete = self.content()
                if self.scenario == "refuse-mid-data":
                    # The reset follows once the reply has surely arrived:
                    # one that overtakes it drops it on the client's side.
                    self.say(self.answers.get("EOD", "421 4.3.2 shutting down"))
                    time.sleep(0.2)
                    self.reset()
                    return
                if not complete or self.scenario == "close-at-end":
                    return
                if self.scenario == "reset-after-data":
                    self.reset()
                    return
                if self.answers.get("EOD", "2").startswith("2"):
                    self.record(sender, recipients, size)
                self.answer("EOD", "250 2.0.0 accepted")
            elif verb == b"QUIT":
                if self.scenario == "silent-quit":
                    self.wait_for_close()
                    return
                self.answer("QUIT", "221 2.0.0 bye")
                return
            elif verb == b"RSET":
                sender, recipients = "", []
                self.say("250 2.0.0 ok")
            else:
                self.say("502 5.5.2 unknown command")


def certificate(directory):
    """A self-signed certificate for localhost and its key, made once: (key, cert)."""
    key, cert = os.path.join(directory, "key.pem"), os.path.join(directory, "cert.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "1", "-subj", "/CN=localhost"], check=True, capture_output=True)
    return key, cert


def unreachable(listener):
    """Fills the listen queue, never accepting: further connections go unanswered."""
    fillers = []
    for _ in range(4):
        filler = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        filler.setblocking(False)
        try:
            filler.connect(listener.getsockname())
        except BlockingIOError:
            pass
        fillers.append(filler)
    return fillers


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--scenario", default="normal", choices=SCENARIOS)
    parser.add_argument("--drip", type=float, default=1.0, help="seconds over which slow-drip spreads a reply")
    parser.add_argument("--delay", type=step_rule, action="append", default=[])
    parser.add_argument("--answer", type=step_rule, action="append", default=[])
    parser.add_argument("--answer-for")
    parser.add_argument("--close-after", choices=STEPS, action="append", default=[])
    parser.add_argument("--line-end", choices=["crlf", "lf", "cr"], default="crlf")
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    if args.scenario == "unreachable":
        listener.listen(0)
        fillers = unreachable(listener)  # held open: they keep the queue full
        print(f"PORT {listener.getsockname()[1]}", flush=True)
        signal.pause()
        fillers.clear()
        return 0
    listener.listen(8)
    if args.scenario in TLS_BROKEN_AFTER:
        certificate(args.dir)  # before the client waits on a handshake
    print(f"PORT {listener.getsockname()[1]}", flush=True)
    while True:
        conn, _ = listener.accept()
        with open(os.path.join(args.dir, "connections.log"), "a") as log:
            log.write("connection\n")
        try:
            Peer(conn, args).dialogue()
        except OSError:
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    sys.exit(main())
