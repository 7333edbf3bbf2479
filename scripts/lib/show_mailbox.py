"""Fetches a mailbox over POP3 and prints every message in it: the header
block as the server hands it out, then the body as text.

usage: show_mailbox.py HOST PORT USER PASSWORD

Exits 1 with the reason when the mailbox cannot be read."""
import email
import email.policy
import poplib
import sys

host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]

try:
    pop = poplib.POP3(host, port, timeout=10)
    pop.user(user)
    pop.pass_(password)
    count, _ = pop.stat()
    messages = [pop.retr(number)[1] for number in range(1, count + 1)]
    pop.quit()
except (OSError, poplib.error_proto) as failure:
    sys.exit(f"could not read the mailbox {user} over POP3 at {host}:{port}: {failure}")

if not messages:
    print(f"No message arrived in the mailbox {user}.")
for number, lines in enumerate(messages, 1):
    print(f"=== Message {number} of {len(messages)}, as POP3 RETR {number} fetched it")
    header_end = lines.index(b"") if b"" in lines else len(lines)
    for line in lines[:header_end]:
        print(line.decode("utf-8", "replace"))
    print()
    message = email.message_from_bytes(b"\r\n".join(lines) + b"\r\n", policy=email.policy.default)
    encoding = message.get("Content-Transfer-Encoding", "7bit").strip().lower()
    try:
        body = message.get_content() if message.get_content_maintype() == "text" else None
    except (LookupError, ValueError):
        body = None
    if body is None:
        # Not text, or in a character set Python does not know: as it came.
        body = b"\r\n".join(lines[header_end + 1:]).decode("utf-8", "replace")
    elif encoding not in ("7bit", "8bit", "binary"):
        print(f"(the body, decoded from {encoding})")
    print(body.replace("\r\n", "\n").rstrip("\n"))
    print()
