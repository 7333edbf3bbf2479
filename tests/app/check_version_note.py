"""Reads the package note out of the built executable and checks the version block
against the identity the build was configured with.

Usage: check_version_note.py IDENTITY_JSON BINARY"""
import json
import subprocess
import sys

identity_path, binary = sys.argv[1], sys.argv[2]
with open(identity_path, encoding="utf-8") as identity_file:
    identity = json.load(identity_file)
# The forms derived from the one version, and the architecture as dpkg names it.
major, minor = identity["version"].split(".")[:2]
derived = {"fileVersionText": f"{major}.{int(minor):02d}", "productVersionText": f"{major}.{int(minor):02d}",
           "productVersion": identity["version"], "fileVersion": identity["version"], "name": identity["name"],
           "architecture": subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                                          text=True).stdout.strip()}
expected = {key: identity[key] for key in (
    "comments", "companyName", "productName", "internalName", "originalFilename", "legalCopyright", "language",
    "codePage")} | derived
notes = subprocess.run(["readelf", "--notes", binary], check=True, capture_output=True, text=True).stdout
payloads = [line.split("Packaging Metadata:", 1)[1].strip()
            for line in notes.splitlines() if "Packaging Metadata:" in line]
if len(payloads) != 1:
    sys.exit(f"expected one package metadata note in {binary}, found {len(payloads)}")
if "FDO_PACKAGING_METADATA" not in notes:
    sys.exit("the note is not of the FDO packaging metadata type")
metadata = json.loads(payloads[0])
wrong = {key: (metadata.get(key), want) for key, want in expected.items() if metadata.get(key) != want}
for key, (got, want) in wrong.items():
    print(f"{key}: got {got!r}, want {want!r}")
if wrong:
    sys.exit(1)
print(f"version note of {binary}: {len(expected)} fields as expected")
