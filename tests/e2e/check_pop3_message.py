"""Retrieves the one message in the test mailbox with a real POP3 client and
checks it against what Kestrine was given. Prints the headers it retrieved."""
import email
import email.policy
import poplib
import sys
import time

user, password, recipient, importance, priority, body_file = sys.argv[1:7]
expected_body = open(body_file, "rb").read().decode("utf-8")

# Delivery to the Maildir takes well under a second; allow ten.
for _ in range(100):
    pop = poplib.POP3("127.0.0.1", 110, timeout=10)
    pop.user(user)
    pop.pass_(password)
    count, _ = pop.stat()
    if count:
        break
    pop.quit()
    time.sleep(0.1)
else:
    sys.exit("no message arrived in the mailbox within 10 s")
if count != 1:
    sys.exit(f"expected exactly one message in the mailbox, found {count}")

_, lines, _ = pop.retr(1)
pop.quit()
raw = b"\r\n".join(lines) + b"\r\n"
message = email.message_from_bytes(raw, policy=email.policy.default)

print("POP3 retrieved these headers:")
for name, value in message.items():
    print(f"  {name}: {value}")

problems = []
def expect(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r}, want {want!r}")

expect("From", str(message["From"]), "kestrine@brimvale.example")
expect("To", str(message["To"]), recipient)
expect("Subject", str(message["Subject"]), "Kestrine Server")
expect("Importance", str(message["Importance"]), importance)
expect("X-Priority", str(message["X-Priority"]).split()[0] if message["X-Priority"] else None, priority)
expect("X-Mailer", str(message["X-Mailer"]), "Kestrine 1.00")
got_lines = message.get_content().replace("\r\n", "\n").split("\n")
want_lines = expected_body.replace("\r\n", "\n").split("\n")
if len(got_lines) != len(want_lines):
    problems.append(f"body has {len(got_lines)} lines, want {len(want_lines)}")
for number, (got, want) in enumerate(zip(got_lines, want_lines), 1):
    expect(f"body line {number}", got, want)

print("\n".join(problems) or "the message arrived as sent: sender, recipient, subject, importance and body")
sys.exit(1 if problems else 0)
