#!/usr/bin/python3
"""Installs the .deb with `apt-get install ./kestrine_*.deb` (no Recommends)
on a clean Debian root and checks there that ldd finds every library of the
program and the module, that the installed program shows its window and its
first press of Send Email submits (check_install_tree.py's checks, against a
test server in a private network namespace), that `apt-get purge` leaves no
file of the package, and that autoremove then takes away all the install
brought: it came from the package's Depends.

The root, made by mmdebstrap --variant=apt from this machine's apt sources,
is kept as a tarball in BUILD_DIR/clean-root when only root can change
BUILD_DIR (else in a private folder, for one run), and reused only while apt
finds nothing in it to upgrade; it is unpacked for each run,
with /proc mounted in a mount namespace of the test's own, and removed after.
Without root or the package archive it says so and exits 77 (skipped).

Usage: check_clean_root.py BUILD_DIR"""
import glob
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import urllib.request

from check_install_tree import check_program_starts, check_program_submits
from mail_module import private_network
from mail_stack import root_only  # scripts/lib, on the path through the test support

ROOT_ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/root", "LC_ALL": "C.UTF-8",
            "DEBIAN_FRONTEND": "noninteractive"}
STARTED = time.monotonic()


def say(text):
    print(f"[{time.monotonic() - STARTED:5.1f} s] {text}", flush=True)


def skip(reason):
    print(f"SKIPPED: {reason}")
    sys.exit(77)


def run(command, timeout=120, **options):
    result = subprocess.run(command, timeout=timeout, capture_output=True, **options)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(command)} ended with {result.returncode}:\n"
                             f"{(result.stdout + result.stderr).decode(errors='replace')}")
    return result.stdout


def prepare_root(cache, sources, again=False):
    """The root unpacked with current package lists; a kept one apt would upgrade is made again."""
    tarball, root = os.path.join(cache, "root.tar"), os.path.join(cache, "root")
    kept = not again and os.path.exists(tarball) and root_only(tarball)
    if not kept:
        say("making a clean root with mmdebstrap --variant=apt")
        run(["mmdebstrap", "--variant=apt", "--mode=root", "--format=tar", "--quiet", sources[0].split()[2],
             tarball + ".part", *sources], 600)
        os.replace(tarball + ".part", tarball)
    remove_root(root)
    os.makedirs(root)
    run(["tar", "-xf", tarball, "-C", root])
    shutil.copy("/etc/resolv.conf", os.path.join(root, "etc"))
    run(["mount", "-t", "proc", "proc", os.path.join(root, "proc")])
    inside = lambda *command, timeout=120: run(["chroot", root, *command], timeout, env=ROOT_ENV).decode()  # noqa
    inside("apt-get", "update", "-qq", timeout=180)
    upgrades = re.findall(r"^Inst (\S+)", inside("apt-get", "-s", "dist-upgrade"), re.M)
    if upgrades and kept:
        say(f"the kept root is behind the archive ({' '.join(upgrades[:3])} ...)")
        return prepare_root(cache, sources, again=True)
    assert not upgrades, f"a root just made is behind the archive: {upgrades}"
    say("root ready (" + ("kept, current" if kept else "new") + ")")
    return root, inside


def remove_root(root):
    if os.path.exists(root):
        subprocess.run(["umount", os.path.join(root, "proc")], capture_output=True, timeout=10)
        with open("/proc/self/mountinfo") as mounts:
            assert not any(line.split()[4].startswith(root + "/") for line in mounts), f"{root} has mounts"
        shutil.rmtree(root)


def check(root, inside, deb, package):
    packages = lambda: set(inside("dpkg-query", "-W", "-f", "${Package}\n").split())  # noqa: E731
    before = packages()
    shutil.copy(deb, os.path.join(root, "tmp"))
    say(f"apt-get install ./{os.path.basename(deb)}")
    inside("apt-get", "install", "-y", "-q", "--no-install-recommends", "/tmp/" + os.path.basename(deb), timeout=300)
    os.remove(os.path.join(root, "tmp", os.path.basename(deb)))
    brought = packages() - before
    say(f"installed {package} and {len(brought) - 1} packages")
    failures = ["ldd: " + line.strip() for line in inside("ldd", "/usr/bin/Kestrine", "/usr/lib/kestrine/kestrine-mail.so")
                .splitlines() if "not found" in line]

    # The installed program, started in the root as a desktop starts it.
    program = os.path.join(os.path.dirname(root), "Kestrine-in-root")
    with open(program, "w") as script:
        script.write(f"#!/bin/sh\nexec chroot '{root}' /usr/bin/Kestrine\n")
    os.chmod(program, 0o700)
    failures += check_program_starts(program)
    if not private_network():
        failures.append("no private network namespace for the test server")
    elif not failures:
        failures += check_program_submits(program)
        say("the installed program showed its window, and its first press submitted")
    os.remove(program)

    with tarfile.open(fileobj=io.BytesIO(run(["dpkg-deb", "--fsys-tarfile", deb]))) as data:
        paths = [name.lstrip(".") for name in data.getnames()]
    say(f"apt-get purge {package}, then autoremove")
    inside("apt-get", "purge", "-y", "-q", package)
    # Folders shared with other packages stay; the package's own do not.
    failures += [f"after apt-get purge, {path} is still there" for path in paths if os.path.lexists(root + path)
                 and (package in path.lower() or not os.path.isdir(root + path))]
    # What the base system only recommends or suggests (gnupg, for apt) goes too.
    inside("apt-get", "autoremove", "--purge", "-y", "-q", "-o", "APT::AutoRemove::RecommendsImportant=false",
           "-o", "APT::AutoRemove::SuggestsImportant=false")
    if packages() != before:
        failures.append(f"apt brought {sorted(packages() - before)}, which no Depends of {package} lead to")
    return failures


def main():
    build = os.path.abspath(sys.argv[1])
    if os.geteuid() != 0:
        skip("installing into a clean root needs root")
    if not all(shutil.which(tool) for tool in ("mmdebstrap", "chroot", "unshare", "cpack")):
        skip("mmdebstrap, chroot, unshare or cpack is not installed")
    if "KESTRINE_PRIVATE_MOUNTS" not in os.environ:
        if subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode != 0:
            skip("no private mount namespace can be made here")
        os.execvpe("unshare", ["unshare", "--mount", "--propagation", "private", sys.executable, *sys.argv],
                   dict(os.environ, KESTRINE_PRIVATE_MOUNTS="1"))
    release = re.search(r"^VERSION_CODENAME=(\w+)", open("/etc/os-release").read(), re.M)
    targets = run(["apt-get", "indextargets", "--format", "$(REPO_URI) $(RELEASE) $(COMPONENT)",
                   "Identifier: Packages"]).decode().split("\n")
    sources = sorted({f"deb {line}" for line in targets if release and re.match(
        rf"\S+ {release.group(1)}(-\S+)? ", line)}, key=len)
    if not sources:
        skip("this machine's apt sources name no Debian archive of its release")
    try:
        uri, suite = sources[0].split()[1:3]
        urllib.request.urlopen(f"{uri.rstrip('/')}/dists/{suite}/InRelease", timeout=15).close()
    except OSError as error:
        skip(f"the package archive cannot be reached: {error}")

    cache = os.path.join(build, "clean-root")
    if not root_only(build):  # whoever can change it could change what root runs in the root
        cache = tempfile.mkdtemp(prefix="kestrine-clean-root.")
    os.makedirs(cache, mode=0o700, exist_ok=True)
    package = json.load(open(os.path.join(build, "generated", "identity.json")))["name"]
    say("building the .deb with cpack")
    run(["cpack", "-G", "DEB", "-B", os.path.join(cache, "deb")], 300, cwd=build)
    deb = glob.glob(os.path.join(cache, "deb", f"{package}_*.deb"))[0]
    try:
        failures = check(*prepare_root(cache, sources), deb, package)
    finally:
        remove_root(os.path.join(cache, "root"))
        shutil.rmtree(os.path.join(cache, "deb") if cache.startswith(build) else cache, ignore_errors=True)
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        sys.exit(1)
    say(f"{os.path.basename(deb)} installs with apt on a clean root, runs there and purges without a trace")


if __name__ == "__main__":
    main()
