"""Reads the package note out of the built executable and checks the version block."""
import json
import subprocess
import sys

EXPECTED = {
    "fileVersion": "1.0.0.0",
    "fileVersionText": "1.00",
    "productVersion": "1.0.0.0",
    "productVersionText": "1.00",
    "comments": "Kestrine Server of IIS",
    "companyName": "Brimvale Systems Limited",
    "productName": "Kestrine",
    "internalName": "Kestrine",
    "originalFilename": "Kestrine.exe",
    "legalCopyright": "Copyright (C) 2026 Brimvale Systems Limited. All rights reserved.",
    "language": "0x0409",
    "codePage": "1200",
    "name": "kestrine",
    "version": "1.0.0.0",
}

binary = sys.argv[1]
EXPECTED["architecture"] = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                                          text=True).stdout.strip()
notes = subprocess.run(["readelf", "--notes", binary], check=True, capture_output=True, text=True).stdout
payloads = [line.split("Packaging Metadata:", 1)[1].strip()
            for line in notes.splitlines() if "Packaging Metadata:" in line]
if len(payloads) != 1:
    sys.exit(f"expected one package metadata note in {binary}, found {len(payloads)}")
if "FDO_PACKAGING_METADATA" not in notes:
    sys.exit("the note is not of the FDO packaging metadata type")
metadata = json.loads(payloads[0])
wrong = {key: (metadata.get(key), want) for key, want in EXPECTED.items() if metadata.get(key) != want}
for key, (got, want) in wrong.items():
    print(f"{key}: got {got!r}, want {want!r}")
if wrong:
    sys.exit(1)
print(f"version note of {binary}: {len(EXPECTED)} fields as expected")
