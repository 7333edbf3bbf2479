#!/usr/bin/python3
"""A private mail stack: Postfix and Dovecot POP3 from Debian's packages, run
without installing them, for scripts/try.sh, the end-to-end tests and the
benchmarks.

  mail_stack.py check            says why this machine cannot run it (exit 1)
  mail_stack.py fetch CACHE      downloads the packages into CACHE and
                                 installs the libraries they link against
  mail_stack.py root-only PATH   exit 0 when only root can change PATH
  mail_stack.py run [--seconds N] (--cache DIR | --build DIR) [--as-caller]
                    [--show-mailbox] -- COMMAND...
      starts the stack and runs COMMAND where localhost:25 is its Postfix and
      localhost:110 its Dovecot, with MAIL_STACK_DIR, MAIL_ADDRESS, MAIL_USER
      and MAIL_PASSWORD set; stops it and removes its folder however COMMAND
      ends, on TERM, HUP and INT too. Not as root, it re-runs itself once under
      sudo. --build DIR takes the cache DIR/mail-stack-cache when only root can
      change DIR, else /var/cache/kestrine-mail-stack. --as-caller runs COMMAND
      as the user who called sudo, on that user's display. --show-mailbox then
      prints the mailbox, and says where an accepted message that is not in it
      is and why (exit 1).
  Inside COMMAND, as root:
  mail_stack.py postfix stop|start   and waits until port 25 is closed or open
  mail_stack.py mailbox              as --show-mailbox

Python callers use MailStack (a context manager).

Nothing of the host changes but the library packages the servers link
against, installed as ordinary packages (never removing one), and apt's
package lists, refreshed when the packages cannot be found. The servers run in
private mount, network and process namespaces: the unpacked packages are
overlaid on /usr and private passwd and group files on /etc in the mount
namespace only, the ports exist in the network namespace only, and the
configuration, queue, mailbox and logs sit in one folder that is removed at
the end. Postfix delivers to one mailbox (postmaster's mail too) and refuses
every other recipient at RCPT TO."""
import argparse
import contextlib
import email
import email.policy
import fcntl
import hashlib
import json
import os
import poplib
import pwd
import re
import secrets
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PYTHON = "/usr/bin/python3"
PACKAGES = ("postfix", "dovecot-core", "dovecot-pop3d")
# A name no person or service of the host is likely to have.
USER = "kestrine-try"
DOMAIN = "localhost"
ADDRESS = f"{USER}@{DOMAIN}"
SYSTEM_CACHE = "/var/cache/kestrine-mail-stack"
UNSHARE = ["unshare", "--mount", "--net", "--pid", "--fork", "--mount-proc", "--kill-child=TERM"]
# What a desktop program needs to reach the caller's display through sudo.
DISPLAY_VARIABLES = ("DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR")
# For the tests: set to 1, Postfix accepts mail for the mailbox but defers
# its delivery.
DEFER_VARIABLE = "MAIL_STACK_DEFER"


class StackError(Exception):
    pass


def say(text):
    print(f"mail stack: {text}", file=sys.stderr, flush=True)


def run(argv, timeout, **kwargs):
    """Runs argv to its end, within `timeout` seconds; the CompletedProcess."""
    return subprocess.run(argv, timeout=timeout, **kwargs)


def succeeds(argv, timeout, **kwargs):
    """True when argv ends with status 0 within `timeout` seconds."""
    try:
        return run(argv, timeout, **kwargs).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def check():
    """Why this machine cannot run the stack, or None."""
    if os.geteuid() != 0:
        return "needs root for private mount, network and process namespaces"
    for tool in ("unshare", "nsenter", "setpriv", "ip", "apt-get", "dpkg-deb", "mount"):
        if not shutil.which(tool):
            return f"{tool} is not installed"
    # The stack lays overlays over /usr inside the namespace: try one.
    with tempfile.TemporaryDirectory() as scratch:
        os.mkdir(f"{scratch}/empty")
        tried = run([*UNSHARE, "mount", "-t", "overlay", "kestrine-check", "-o",
                     f"ro,lowerdir={scratch}/empty:/usr/lib", "/usr/lib"], 30, capture_output=True)
    if tried.returncode != 0:
        return "cannot create private namespaces with an overlay mount here"
    return None


def root_only(path):
    """True when path exists and neither it nor a folder above it can be
    changed by anyone but root: each is owned by root and writable by root
    alone, or is a sticky folder such as /tmp, where others cannot rename or
    remove what root placed. Root starts the servers in the cache, so it must
    sit in such a place: whoever can replace a folder on the way can replace
    the packages."""
    path = os.path.realpath(path)
    while True:
        try:
            status = os.stat(path)
        except OSError:
            return False
        if status.st_uid != 0 or (status.st_mode & 0o022 and not status.st_mode & 0o1000):
            return False
        if path == "/":
            return True
        path = os.path.dirname(path)


def cache_for(build):
    """The cache for a build tree: in it when it is root's alone (the tests
    as root), else (a user's build tree, through sudo) in /var/cache."""
    return os.path.join(build, "mail-stack-cache") if root_only(build) else SYSTEM_CACHE


def fetch(cache):
    """Downloads what is missing from cache and installs the libraries the
    packages need, both idempotently; a lock keeps two runs from fetching
    into one cache at once. Every step that waits on the network is bounded."""
    # Root unpacks and starts what is in here: a cache someone else owns (a
    # symbolic link, a folder handed to a user) is not used but made anew.
    if os.path.islink(cache) or (os.path.exists(cache) and os.stat(cache).st_uid != 0):
        say(f"{cache} is not root's own; making it anew")
        if os.path.islink(cache) or not os.path.isdir(cache):
            os.unlink(cache)
        else:
            shutil.rmtree(cache)
    os.makedirs(cache, exist_ok=True)
    os.chmod(cache, 0o755)
    # The lock is on the folder itself, opened for reading: a lock file could
    # be a planted link to another file, which opening for writing would truncate.
    lock = os.open(cache, os.O_RDONLY | os.O_DIRECTORY)
    try:
        deadline = time.monotonic() + 300
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise StackError(f"another run kept {cache} locked for 5 minutes") from None
                time.sleep(0.5)
        drop_unverified(cache)
        missing = [package for package in PACKAGES if not debs(cache, package)]
        if missing:
            say(f"downloading {' '.join(missing)} into {cache}")
            if not download(cache, missing):
                # A machine that never read the package lists finds nothing.
                if not succeeds(["apt-get", "update", "-qq", "-o", "DPkg::Lock::Timeout=120"], 180) \
                        or not download(cache, missing):
                    raise StackError(f"could not download {' '.join(missing)}")
            drop_unverified(cache)
            for package in missing:
                if not debs(cache, package):
                    raise StackError(f"the download of {package} does not match apt's index")
        install_libraries(cache)
    finally:
        os.close(lock)


def debs(cache, package):
    return [name for name in os.listdir(cache) if name.startswith(package + "_") and name.endswith(".deb")]


def download(cache, packages):
    # apt drops to its own user to download unless told otherwise, and that
    # user cannot write into a cache of root's.
    return succeeds(["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", *packages], 120,
                    cwd=cache, stdout=subprocess.DEVNULL)


def drop_unverified(cache):
    """Removes from the cache every file but the .debs of the stack's
    packages, one each, named for the package they hold, whose SHA256 is the
    one apt's index gives for that package and version: a download cut short,
    a file swapped or altered, a version apt no longer lists, a second copy or
    version of one package (all would be unpacked)."""
    candidates = {}
    for name in sorted(os.listdir(cache)):
        path = os.path.join(cache, name)
        if name.endswith(".deb") and os.path.isfile(path) and not os.path.islink(path):
            fields = run(["dpkg-deb", "-f", path, "Package", "Version"], 60, capture_output=True, text=True)
            found = dict(re.findall(r"^(Package|Version): (\S+)$", fields.stdout, re.M))
            if fields.returncode == 0 and found.get("Package") in PACKAGES and "Version" in found:
                with open(path, "rb") as deb:
                    candidates[name] = (found["Package"], found["Version"], hashlib.sha256(deb.read()).hexdigest())
    # One look-up for all: apt-cache takes seconds to start on a busy machine.
    index = run(["apt-cache", "show", *sorted({f"{p}={v}" for p, v, _ in candidates.values()})], 60,
                capture_output=True, text=True).stdout if candidates else ""
    vouched = {(record.get("Package"), record.get("Version"), record.get("SHA256"))
               for record in (dict(re.findall(r"^(Package|Version|SHA256): (\S+)$", text, re.M))
                              for text in index.split("\n\n"))}
    kept = set()
    for name in sorted(os.listdir(cache)):
        package = candidates.get(name, ("",))[0]
        if candidates.get(name) in vouched and name.startswith(package + "_") and package not in kept:
            kept.add(package)
            continue
        path = os.path.join(cache, name)
        say(f"removing {name} from the cache: not a package apt's index vouches for")
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.unlink(path)


def install_libraries(cache):
    """The shared libraries the packages depend on, taken from their own
    control data, installed as ordinary packages: libraries only, never the
    servers, and never removing a package."""
    wanted = set()
    for name in os.listdir(cache):
        fields = run(["dpkg-deb", "-f", os.path.join(cache, name), "Depends", "Pre-Depends"], 60,
                     capture_output=True, text=True, check=True).stdout
        for line in fields.splitlines():
            for item in re.split(r"[,|]", line.split(":", 1)[-1]):
                item = re.sub(r"\(.*\)|:any", "", item).strip()
                if re.fullmatch(r"lib[a-z0-9.+-]*[0-9][a-z0-9.+-]*|zlib1g", item):
                    wanted.add(item)
    missing = [name for name in sorted(wanted)
               if run(["dpkg-query", "-W", "-f=${Status}", name], 60, capture_output=True,
                      text=True).stdout != "install ok installed"]
    if not missing:
        return
    say(f"installing the libraries {' '.join(missing)}")
    # Another apt at work holds its lock for a while: wait for it, bounded.
    command = ["apt-get", "install", "-y", "-qq", "--no-install-recommends", "--no-remove",
               "-o", "DPkg::Lock::Timeout=120", *missing]
    if not succeeds(command, 300, stdout=subprocess.DEVNULL, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive")):
        raise StackError(f"could not install {' '.join(missing)}")


# Inside the namespaces: the servers.

def wait_until(condition, what, seconds=10, error=StackError):
    """`condition`'s first true answer, asked every 0.1 s; `error` saying
    "WHAT within SECONDS s" once `seconds` have passed without one."""
    deadline = time.monotonic() + seconds
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise error(f"{what} within {seconds} s")
        time.sleep(0.1)
    return value


def stop_process(process, seconds=10, group=False):
    """Terminates `process` (its process group when `group`), killing it when
    it does not end within `seconds`. False when it had to be killed."""
    if process.poll() is not None:
        return True
    signal_it = (lambda number: os.killpg(process.pid, number)) if group else process.send_signal
    signal_it(signal.SIGTERM)
    try:
        process.wait(seconds)
        return True
    except subprocess.TimeoutExpired:
        signal_it(signal.SIGKILL)
        process.wait()
        return False


def port_open(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def wait_port(port, state):
    wait_until(lambda: port_open(port) == (state == "open"), f"port {port} did not become {state}")


def reap():
    """Collects the children that have ended: as the namespace's first
    process this one inherits the servers' masters."""
    with contextlib.suppress(ChildProcessError):
        while os.waitpid(-1, os.WNOHANG)[0]:
            pass


def process_gone(pid):
    reap()
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def private_users(d):
    """Copies of passwd and group that add the servers' users and the mailbox
    owner, mounted over the real files: they exist in this namespace only. A
    host user of the same name (a real postfix) gives way in the copies, so
    that nothing is delivered into a home of the host."""
    names = ("postfix", "dovecot", "dovenull", USER)
    files = {}
    for table in ("passwd", "group"):
        with open(f"/etc/{table}") as real:
            files[table] = [line for line in real.read().splitlines()
                            if line.split(":")[0] not in (*names, "postdrop")]
    used = {line.split(":")[2] for lines in files.values() for line in lines if line.count(":") >= 2}
    ids = (number for number in range(60000, 70000) if str(number) not in used)
    for name in names:
        number = next(ids)
        files["group"].append(f"{name}:x:{number}:")
        files["passwd"].append(f"{name}:x:{number}:{number}::{d}/home/{name}:/usr/sbin/nologin")
    files["group"].append(f"postdrop:x:{next(ids)}:")
    os.makedirs(f"{d}/etc")
    for table, lines in files.items():
        with open(f"{d}/etc/{table}", "w") as copy:
            copy.write("\n".join(lines) + "\n")
        run(["mount", "--bind", f"{d}/etc/{table}", f"/etc/{table}"], 30, check=True)


def postfix_config(d, defer):
    return f"""compatibility_level = 3.6
queue_directory = {d}/postfix/queue
data_directory = {d}/postfix/data
meta_directory = {d}/root/etc/postfix
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = {DOMAIN}
mydomain = {DOMAIN}
myorigin = $myhostname
mydestination = $myhostname
mynetworks = 127.0.0.0/8
# Only the one mailbox: another domain is refused at RCPT TO, an unknown
# user too, and nothing is ever handed on.
smtpd_relay_restrictions = reject_unauth_destination
alias_maps =
alias_database =
local_recipient_maps = inline:{{ {USER}=ok }}
defer_transports = {"local" if defer else ""}
# Postfix always takes mail for the postmaster; it lands in the one mailbox.
virtual_alias_maps = inline:{{ postmaster={USER} }}
home_mailbox = Maildir/
default_transport = error:this private mail server delivers only to {ADDRESS}
relay_transport = $default_transport
# STARTTLS with a self-signed certificate, as a stock Postfix offers it with
# Debian's snakeoil one.
smtpd_tls_cert_file = {d}/postfix/conf/snakeoil.pem
smtpd_tls_key_file = {d}/postfix/conf/snakeoil.key
smtpd_tls_security_level = may
maillog_file = {d}/postfix.log
maillog_file_prefixes = {d}
biff = no
smtputf8_enable = no
"""


MASTER_CF = """smtp      inet  n       -       n       -       -       smtpd
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
local     unix  -       n       n       -       -       local
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
"""


def dovecot_config(d, home):
    return f"""base_dir = {d}/dovecot/run
state_dir = {d}/dovecot/state
log_path = {d}/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {d}/dovecot/passwd
}}
userdb {{
  driver = static
  args = uid={USER} gid={USER} home={home}
}}
mail_location = maildir:~/Maildir
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = 110
  }}
}}
"""


def start_servers(d, cache, password, log):
    """Unpacks the packages into d/root and lays each of /usr/sbin, /usr/bin
    and /usr/lib of that tree over the host's as a read-only overlay (the
    binaries find their helpers and private libraries where they were built
    to look, the host's own files stay visible beneath), then starts Postfix
    on 127.0.0.1:25 and Dovecot POP3 on 127.0.0.1:110."""
    quiet = dict(stdout=log, stderr=log)
    run(["ip", "link", "set", "lo", "up"], 30, check=True, **quiet)
    for name in sorted(os.listdir(cache)):
        run(["dpkg-deb", "-x", os.path.join(cache, name), f"{d}/root"], 120, check=True, **quiet)
    for part in ("usr/sbin", "usr/bin", "usr/lib"):
        run(["mount", "-t", "overlay", "kestrine-mail-stack", "-o", f"ro,lowerdir={d}/root/{part}:/{part}",
             f"/{part}"], 30, check=True, **quiet)
    private_users(d)
    user = pwd.getpwnam(USER)
    home = f"{d}/home/{USER}"
    for sub in ("cur", "new", "tmp"):
        os.makedirs(f"{home}/Maildir/{sub}")
    for folder, _, _ in os.walk(home):
        os.chown(folder, user.pw_uid, user.pw_gid)
    os.chmod(home, 0o700)
    for sub in ("conf", "queue", "data"):
        os.makedirs(f"{d}/postfix/{sub}")
    os.chown(f"{d}/postfix/data", pwd.getpwnam("postfix").pw_uid, -1)
    # Made as Debian's make-ssl-cert makes the snakeoil certificate: this
    # host's name, self-signed, ten years.
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj", f"/CN={DOMAIN}",
         "-addext", f"subjectAltName=DNS:{DOMAIN}", "-keyout", f"{d}/postfix/conf/snakeoil.key",
         "-out", f"{d}/postfix/conf/snakeoil.pem"], 60, check=True, **quiet)
    with open(f"{d}/postfix/conf/main.cf", "w") as main_cf:
        main_cf.write(postfix_config(d, os.environ.get(DEFER_VARIABLE) == "1"))
    with open(f"{d}/postfix/conf/master.cf", "w") as master_cf:
        master_cf.write(MASTER_CF)
    postfix(d, "start", log)
    for sub in ("run", "state"):
        os.makedirs(f"{d}/dovecot/{sub}")
    with open(f"{d}/dovecot/passwd", "w") as passwd:
        passwd.write(f"{USER}:{{PLAIN}}{password}\n")
    with open(f"{d}/dovecot/dovecot.conf", "w") as conf:
        conf.write(dovecot_config(d, home))
    run(["dovecot", "-c", f"{d}/dovecot/dovecot.conf"], 30, check=True, **quiet)
    wait_port(110, "open")


def master_pid(pid_file):
    with contextlib.suppress(OSError, ValueError):
        with open(pid_file) as pid:
            return int(pid.read().strip())
    return None


def stop_master(pid_file, name):
    """Ends a server by its master's pid (TERM is what "postfix stop" sends)
    and waits for it: a master still closing down keeps its port busy."""
    pid = master_pid(pid_file)
    if pid is not None:
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGTERM)
        wait_until(lambda: process_gone(pid), f"{name}'s master {pid} did not stop")


def postfix(d, action, log=None):
    """Starts Postfix ("postfix start" checks the configuration first and
    refuses a wrong one) or stops it, and waits until port 25 is open or
    closed."""
    if action == "start":
        run(["postfix", "-c", f"{d}/postfix/conf", "start"], 60, check=True, stdout=log, stderr=log)
    else:
        stop_master(f"{d}/postfix/queue/pid/master.pid", "Postfix")
    wait_port(25, "open" if action == "start" else "closed")


def stop_servers(d):
    """Stops both; False when one would not stop, so that a leak shows. The
    mounts and the private users go with the namespace."""
    stopped = True
    for stop in (lambda: postfix(d, "stop"), lambda: stop_master(f"{d}/dovecot/run/master.pid", "Dovecot")):
        try:
            stop()
        except StackError as failure:
            say(str(failure))
            stopped = False
    return stopped


def init(d, cache, password):
    """The first process of the namespaces: starts the servers, says "ready"
    on stdout, reaps what is left to it (the servers' masters among them)
    until stdin closes or TERM comes, then stops the servers."""
    os.umask(0o022)  # the servers' users read and enter what is made here
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    status = 0
    try:
        with open(f"{d}/start.log", "w") as log:
            start_servers(d, cache, password, log)
        print("ready", flush=True)
    except (OSError, StackError, subprocess.SubprocessError, KeyError) as failure:
        say(f"the private mail servers did not start: {failure}")
        for name in ("start.log", "postfix.log", "dovecot.log"):
            with contextlib.suppress(OSError), open(f"{d}/{name}") as log:
                sys.stderr.write("".join(log.readlines()[-20:]))
        stopping.append(1)
        status = 1
    while not stopping:
        with contextlib.suppress(InterruptedError):
            if select.select([sys.stdin], [], [], 0.1)[0] and not os.read(sys.stdin.fileno(), 1):
                break
        reap()
    if not stop_servers(d):
        status = 1
    return status


class MailStack:
    """Postfix and Dovecot up in private namespaces for the life of the
    `with` block, from a cache fetch() filled; run() runs a command inside
    them. Torn down on any exit of the block: the servers stopped, the
    namespaces ended, the folder removed. As root."""

    def __init__(self, cache):
        self.cache = os.path.realpath(cache)
        self.password = "pop-" + secrets.token_hex(8)
        self.env = {"MAIL_ADDRESS": ADDRESS, "MAIL_USER": USER, "MAIL_PASSWORD": self.password}
        self.dir = None
        self._init = None
        self._handlers = {}
        self.stopped_cleanly = False

    def __enter__(self):
        # TERM and HUP, where nothing else handles them, end the block as an
        # exception does, so that the teardown runs (INT does so already).
        self._handlers = {number: signal.signal(number, _exit_on_signal)
                          for number in (signal.SIGTERM, signal.SIGHUP) if signal.getsignal(number) == signal.SIG_DFL}
        try:
            self.dir = tempfile.mkdtemp(prefix="kestrine-mail.", dir="/tmp")
            # The servers' users read their configuration in here.
            os.chmod(self.dir, 0o755)
            self.env["MAIL_STACK_DIR"] = self.dir
            self._init = subprocess.Popen(
                [*UNSHARE, PYTHON, os.path.abspath(__file__), "_init", self.cache],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=dict(os.environ, **self.env),
                process_group=0)
            if not select.select([self._init.stdout], [], [], 120)[0]:
                raise StackError("the private mail servers did not start within 120 s")
            if self._init.stdout.readline() != b"ready\n":
                raise StackError("the private mail servers did not start")
            with open(f"/proc/{self._init.pid}/task/{self._init.pid}/children") as children:
                self._inside = int(children.read().split()[0])
        except BaseException:
            self.__exit__()
            raise
        return self

    def run(self, argv, as_user=None, **popen):
        """Starts argv inside the namespaces, in a process group of its own;
        as_user: a pwd entry to run it as. The Popen."""
        prefix = ["nsenter", f"--target={self._inside}", "--mount", "--net", "--pid", f"--wd={os.getcwd()}"]
        if as_user:
            prefix += ["setpriv", f"--reuid={as_user.pw_uid}", f"--regid={as_user.pw_gid}", "--init-groups",
                       "env", f"HOME={as_user.pw_dir}", f"USER={as_user.pw_name}", f"LOGNAME={as_user.pw_name}"]
        env = dict(popen.pop("env", os.environ), **self.env)
        return subprocess.Popen([*prefix, *argv], env=env, process_group=0, **popen)

    def __exit__(self, *_):
        status = 0
        if self._init:
            if self._init.poll() is None:
                self._init.stdin.close()
                try:
                    self._init.wait(20)
                except subprocess.TimeoutExpired:
                    say("the servers did not stop within 20 s; ending their namespaces")
                    os.killpg(self._init.pid, signal.SIGKILL)
                    self._init.wait()
            status = self._init.returncode
            self._init.stdout.close()
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)
        self.stopped_cleanly = status == 0
        for number, handler in self._handlers.items():
            signal.signal(number, handler)


def _exit_on_signal(number, _):
    raise SystemExit(128 + number)


# What the mailbox holds, and where an accepted message that is not there is.

def undelivered(d):
    """Lines saying, for each message Postfix accepted that did not reach the
    mailbox, where it is and Postfix's reason: from its queue (postqueue -j),
    and from its log for what it bounced. Waits, at most 10 s, until Postfix
    has handed what it is working on to its delivery agents."""
    queue = f"{d}/postfix/queue"
    try:
        wait_until(lambda: not any(files for part in ("maildrop", "incoming", "active")
                                   for _, _, files in os.walk(f"{queue}/{part}")),
                   "Postfix did not finish delivering")
    except StackError as failure:
        say(str(failure))
    lines = []
    listing = run(["postqueue", "-c", f"{d}/postfix/conf", "-j"], 30, capture_output=True, text=True)
    for entry in map(json.loads, listing.stdout.splitlines()):
        for recipient in entry.get("recipients", []):
            lines.append(f"{entry['queue_id']} from <{entry['sender']}> to <{recipient['address']}>: "
                         f"in Postfix's {entry['queue_name']} queue: "
                         f"{recipient.get('delay_reason') or 'no delivery attempt finished yet'}")
    with contextlib.suppress(OSError), open(f"{d}/postfix.log", errors="replace") as log:
        for queue_id, to, reason in re.findall(r" ([0-9A-Z]+): to=<([^>]*)>.* status=bounced \((.*)\)$",
                                               log.read(), re.M):
            lines.append(f"{queue_id} to <{to}>: bounced: {reason}")
    if listing.returncode != 0:
        lines.append(f"Postfix's queue could not be listed: {listing.stderr.strip()}")
    return lines


def pop3_messages(user, password):
    """Every message in the mailbox of `user` at 127.0.0.1:110, each as the
    lines POP3 RETR hands out."""
    pop = poplib.POP3("127.0.0.1", 110, timeout=10)
    try:
        pop.user(user)
        pop.pass_(password)
        count, _ = pop.stat()
        messages = [pop.retr(number)[1] for number in range(1, count + 1)]
        pop.quit()
        return messages
    finally:
        pop.close()


def show_mailbox(d, password):
    """Prints every message in the mailbox as POP3 fetches it (the header
    block as the server hands it out, then the body as text), then where any
    accepted message that is not in it is and why. False when the mailbox
    could not be read or lacks a message."""
    missing = undelivered(d)
    print(f"The mailbox {ADDRESS}, fetched over POP3 from the private Dovecot:\n", flush=True)
    try:
        messages = pop3_messages(USER, password)
    except (OSError, poplib.error_proto) as failure:
        say(f"could not read the mailbox {USER} over POP3 at 127.0.0.1:110: {failure}")
        return False
    if not messages:
        print(f"No message arrived in the mailbox {USER}.")
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
    if missing:
        print(f"Accepted by Postfix but not in the mailbox ({len(missing)}):")
        print("\n".join(missing), flush=True)
    return not missing


# The command.

def as_root(argv):
    """Re-runs this program under sudo, once, with what a desktop program
    needs of the caller's environment and the caller's uid for --as-caller."""
    if not shutil.which("sudo"):
        say("the private mail servers need root (for private mount, network and process namespaces), "
            "and sudo is not installed. Run this as root.")
        return 1
    say("the private mail servers need root for their namespaces: asking sudo.")
    keep = [f"{name}={os.environ.get(name, '')}" for name in DISPLAY_VARIABLES]
    if not os.environ.get("XAUTHORITY"):
        keep[1] = f"XAUTHORITY={os.path.expanduser('~/.Xauthority')}"
    os.execvp("sudo", ["sudo", "env", *keep, PYTHON, os.path.abspath(__file__),
                       argv[0], f"--caller={os.getuid()}", *argv[1:]])


def run_command(argv):
    parser = argparse.ArgumentParser(prog="mail_stack.py run")
    parser.add_argument("--seconds", type=int, default=0)
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--cache")
    where.add_argument("--build")
    parser.add_argument("--caller", type=int)
    parser.add_argument("--as-caller", action="store_true")
    parser.add_argument("--show-mailbox", action="store_true")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args(argv)
    # sudo passes empty values for what the caller lacked.
    for name in DISPLAY_VARIABLES:
        if not os.environ.get(name):
            os.environ.pop(name, None)
    reason = check()
    if reason:
        say(f"cannot start the private mail servers: {reason}")
        return 1
    cache = options.cache or cache_for(options.build)
    user = pwd.getpwuid(options.caller) if options.as_caller and options.caller else None

    names = {signal.SIGINT: "SIGINT received", signal.SIGTERM: "SIGTERM received",
             signal.SIGHUP: "SIGHUP received", signal.SIGALRM: f"the run's bound of {options.seconds} s ran out"}
    stopped = []

    class Stop(Exception):
        pass

    def stop(number, _):
        if not stopped:
            stopped.append(124 if number == signal.SIGALRM else 128 + number)
            say(f"{names[number]}: stopping the private mail servers")
            raise Stop()

    for number in names:
        signal.signal(number, stop)
    signal.alarm(options.seconds)
    stack = MailStack(cache)
    status = 1
    try:
        fetch(cache)
        with stack:
            process = None
            try:
                env = dict(os.environ)
                if options.as_caller and "XDG_RUNTIME_DIR" not in env:
                    # Without one Qt makes /tmp/runtime-USER, which would outlive the run.
                    env["XDG_RUNTIME_DIR"] = f"{stack.dir}/runtime"
                    os.mkdir(env["XDG_RUNTIME_DIR"], 0o700)
                    if user:
                        os.chown(env["XDG_RUNTIME_DIR"], user.pw_uid, user.pw_gid)
                process = stack.run(options.command, as_user=user, env=env)
                status = process.wait()
                status = 128 - status if status < 0 else status  # ended by a signal, as a shell says
                if options.show_mailbox:
                    shown = stack.run([PYTHON, os.path.abspath(__file__), "mailbox"]).wait() == 0
                    status = status or (0 if shown else 1)
            finally:
                # Told to stop first, so that the command can end cleanly.
                if process and not stop_process(process, 15, group=True):
                    say("the command inside did not end within 15 s of TERM; it was killed")
                stopped.append(status)  # no Stop from here on: the teardown runs whole
    except Stop:
        pass
    except StackError as failure:
        say(str(failure))
    signal.alarm(0)
    status = stopped[0] if stopped else status
    if status == 0 and not stack.stopped_cleanly:
        say("a mail server would not stop; it ended with its namespace")
        status = 1
    return status


def main(argv):
    action = argv[0] if argv else ""
    try:
        if action == "check":
            reason = check()
            if reason:
                print(reason)
            return 1 if reason else 0
        if action == "fetch" and len(argv) == 2:
            fetch(argv[1])
            return 0
        if action == "root-only" and len(argv) == 2:
            return 0 if root_only(argv[1]) else 1
        if action == "run":
            return run_command(argv[1:]) if os.geteuid() == 0 else as_root(argv)
        if action == "_init":
            return init(os.environ["MAIL_STACK_DIR"], argv[1], os.environ["MAIL_PASSWORD"])
        if action == "postfix" and argv[1:] in (["stop"], ["start"]):
            postfix(os.environ["MAIL_STACK_DIR"], argv[1])
            return 0
        if action == "mailbox":
            return 0 if show_mailbox(os.environ["MAIL_STACK_DIR"], os.environ["MAIL_PASSWORD"]) else 1
    except (StackError, subprocess.SubprocessError) as failure:
        say(str(failure))
        return 1
    print(__doc__.split("\n\n")[1], file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
