"""Retrieves a message from the test mailbox with a real POP3 client and checks
it against what Kestrine was given. Prints the header block as retrieved.

usage: check_pop3_message.py USER PASSWORD NUMBER FROM TO SUBJECT IMPORTANCE
                             X_PRIORITY BODY_FILE QUEUE_ID X_MAILER

QUEUE_ID is the id Postfix named when it accepted the message (the OK box's
details end with that reply): the Received header Postfix added carries it.

NUMBER is the message's number in the mailbox, which must then hold exactly
NUMBER messages: each press of Send Email that was answered OK adds one, and
nothing else may."""
import email
import email.policy
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
from mail_stack import StackError, pop3_messages, wait_until  # noqa: E402

(user, password, number, sender, recipient, subject, importance, priority,
 body_file, queue_id, mailer) = sys.argv[1:12]
number = int(number)
with open(body_file, "rb") as f:
    expected_body = f.read().decode("utf-8")

# Delivery to the Maildir takes well under a second; allow ten.
messages = []


def arrived():
    messages[:] = pop3_messages(user, password)
    return len(messages) >= number


try:
    wait_until(arrived, "", 10)
except StackError:
    sys.exit(f"message {number} did not arrive in the mailbox within 10 s ({len(messages)} there)")
if len(messages) != number:
    sys.exit(f"expected exactly {number} message(s) in the mailbox, found {len(messages)}")
lines = messages[-1]
raw = b"\r\n".join(lines) + b"\r\n"
message = email.message_from_bytes(raw, policy=email.policy.default)

print(f"POP3 RETR {number} retrieved this header block:")
for line in lines:
    if not line:
        break
    print("  " + line.decode("utf-8", "replace"))

problems = []


def expect(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r}, want {want!r}")


def header(name):
    values = message.get_all(name) or []
    if len(values) != 1:
        problems.append(f"{name}: {len(values)} such headers, want exactly one")
    return str(values[0]) if values else None


expect("From", header("From"), sender)
expect("To", header("To"), recipient)
expect("Subject", header("Subject"), subject)
expect("Importance", header("Importance"), importance)
x_priority = header("X-Priority")
expect("X-Priority", x_priority.split()[0] if x_priority else None, priority)
expect("X-Mailer", header("X-Mailer"), mailer)
expect("Content-Type", message.get_content_type(), "text/plain")
received = [str(value) for value in message.get_all("Received") or []]
if not queue_id or not any(f" id {queue_id}" in value for value in received):
    problems.append(f"no Received header names the queue id {queue_id!r} of the OK box: {received}")
got_lines = message.get_content().replace("\r\n", "\n").split("\n")
want_lines = expected_body.replace("\r\n", "\n").split("\n")
if len(got_lines) != len(want_lines):
    problems.append(f"body has {len(got_lines)} lines, want {len(want_lines)}")
for line_number, (got, want) in enumerate(zip(got_lines, want_lines), 1):
    expect(f"body line {line_number}", got, want)

print("\n".join(problems) or
      f"message {number} arrived as sent: sender, recipient, subject, importance and body")
sys.exit(1 if problems else 0)
