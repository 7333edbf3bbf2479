#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) for the mail tests.

It listens on loopback and saves every message it accepts into --dir, for the
tests that read what arrived. Refusals and faults are the scripted peer's
(smtp_peer.py --answer).

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


class Handler:
    def __init__(self, directory, discard=False):
        self.discard = discard
        self.directory = directory
        self.count = 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        session.host_name = hostname
        return f"250 {server.hostname}"

    async def handle_DATA(self, server, session, envelope):
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
    handler = Handler(args.dir, args.discard)
    tls_context = self_signed_context(args.dir) if args.starttls else None
    log_path = os.path.join(args.dir, "connections.log")

    def factory():
        with open(log_path, "a") as log:
            log.write("connection\n")
        return SMTP(handler, enable_SMTPUTF8=args.smtputf8, tls_context=tls_context,
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
    parser.add_argument("--smtputf8", action="store_true")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--discard", action="store_true")
    args = parser.parse_args()
    if not args.host.startswith("127.") and args.host not in ("::1", "localhost"):
        sys.exit("the test server listens on loopback only")
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
