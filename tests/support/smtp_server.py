#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) for the mail tests.

It listens on loopback, saves every message it accepts into --dir and can be
told to answer chosen codes at chosen steps:

  --reply STEP:CODE:TEXT   STEP is GREETING, EHLO (EHLO and HELO), MAIL, RCPT,
                           DATA or EOD (the reply to the end of data). TEXT may hold "\\n" for a
                           multi-line reply. Repeatable.
  --reply-for ADDRESS      RCPT rules apply only to this recipient.
  --smtputf8               advertise SMTPUTF8.
  --starttls               advertise STARTTLS with a fresh self-signed certificate.
  --discard                accept messages without saving them (for benchmarks).

Once it listens it prints "PORT <n>" on standard output. For each connection it
appends a line to DIR/connections.log before it greets; for each accepted message
it writes DIR/message-NNNN.eml (the data bytes exactly as received, dot-stuffing
undone) and DIR/message-NNNN.json (envelope, EHLO name, TLS, and the message as
Python's email package decodes it) before it answers the end of data.
"""

import argparse
import asyncio
import email
import email.policy
import json
import os
import signal
import ssl
import subprocess
import sys

from aiosmtpd.smtp import SMTP

STEPS = ("GREETING", "EHLO", "MAIL", "RCPT", "DATA", "EOD")


def parse_rule(text):
    step, code, reply = text.split(":", 2)
    if step not in STEPS:
        raise argparse.ArgumentTypeError(f"unknown step {step!r}")
    return step, int(code), reply.replace("\\n", "\n")


def format_reply(code, text):
    lines = text.split("\n")
    return "\r\n".join(f"{code}{'-' if i < len(lines) - 1 else ' '}{line}" for i, line in enumerate(lines))


def decode(raw):
    message = email.message_from_bytes(raw, policy=email.policy.default)
    headers = [[name, str(value)] for name, value in message.items()]
    body = message.get_content() if not message.is_multipart() else None
    return {
        "headers": headers,
        "body": body,
        "content_type": message.get_content_type(),
        "charset": message.get_content_charset(),
        "transfer_encoding": message.get("Content-Transfer-Encoding", ""),
    }


class ScriptedSmtp(SMTP):
    """aiosmtpd's SMTP with the two hooks its handler API lacks: the greeting and DATA."""

    def __init__(self, handler, rules, **kwargs):
        super().__init__(handler, **kwargs)
        self.rules = rules
        self.greeted = False

    async def push(self, status):
        if not self.greeted:
            self.greeted = True
            if "GREETING" in self.rules:
                status = format_reply(*self.rules["GREETING"])
        await super().push(status)

    async def smtp_DATA(self, arg):
        if "DATA" in self.rules and self.envelope.rcpt_tos:
            await self.push(format_reply(*self.rules["DATA"]))
            return
        await super().smtp_DATA(arg)


class Handler:
    def __init__(self, directory, rules, reply_for, discard=False):
        self.discard = discard
        self.directory = directory
        self.rules = rules
        self.reply_for = reply_for
        self.count = 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if "EHLO" in self.rules:
            return [format_reply(*self.rules["EHLO"])]
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        session.host_name = hostname
        if "EHLO" in self.rules:
            return format_reply(*self.rules["EHLO"])
        return f"250 {server.hostname}"

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if "MAIL" in self.rules:
            return format_reply(*self.rules["MAIL"])
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if "RCPT" in self.rules and self.reply_for in (None, address):
            return format_reply(*self.rules["RCPT"])
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if "EOD" in self.rules:
            return format_reply(*self.rules["EOD"])
        if self.discard:
            return "250 OK discarded"
        self.count += 1
        stem = os.path.join(self.directory, f"message-{self.count:04d}")
        raw = envelope.original_content
        with open(stem + ".eml", "wb") as f:
            f.write(raw)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "mail_options": envelope.mail_options,
            "ehlo": session.host_name,
            "tls": session.ssl is not None,
            "decoded": decode(raw),
        }
        with open(stem + ".json", "w", encoding="utf-8") as f:
            json.dump(record, f, ensure_ascii=False)
        return "250 OK queued"


def self_signed_context(directory):
    key, cert = os.path.join(directory, "key.pem"), os.path.join(directory, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "1", "-subj", "/CN=localhost"], check=True, capture_output=True)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


async def serve(args):
    rules = {step: (code, text) for step, code, text in args.reply}
    handler = Handler(args.dir, rules, args.reply_for, args.discard)
    tls_context = self_signed_context(args.dir) if args.starttls else None
    log_path = os.path.join(args.dir, "connections.log")

    def factory():
        with open(log_path, "a") as log:
            log.write("connection\n")
        return ScriptedSmtp(handler, rules, enable_SMTPUTF8=args.smtputf8, tls_context=tls_context,
                            hostname="test.server", ident="Kestrine test server", timeout=60)

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, host=args.host, port=args.port)
    print(f"PORT {server.sockets[0].getsockname()[1]}", flush=True)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    await stop.wait()
    server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--reply", type=parse_rule, action="append", default=[])
    parser.add_argument("--reply-for")
    parser.add_argument("--smtputf8", action="store_true")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--discard", action="store_true")
    args = parser.parse_args()
    if not args.host.startswith("127.") and args.host not in ("::1", "localhost"):
        sys.exit("the test server listens on loopback only")
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
