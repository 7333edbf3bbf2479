"""Checks the generated Windows VERSIONINFO resource: the same version block as
the ELF note, from the identity the build was configured with.

Usage: check_version_resource.py IDENTITY_JSON RC_FILE"""
import json
import re
import sys

with open(sys.argv[1], encoding="utf-8") as identity_file:
    identity = json.load(identity_file)
text = open(sys.argv[2], encoding="utf-8").read()
expected_strings = {
    "Comments": identity["comments"],
    "CompanyName": identity["companyName"],
    "FileVersion": identity["fileVersionText"],
    "InternalName": identity["internalName"],
    "LegalCopyright": identity["legalCopyright"],
    "OriginalFilename": identity["originalFilename"],
    "ProductName": identity["productName"],
    "ProductVersion": identity["productVersionText"],
}
values = dict(re.findall(r'VALUE\s+"(\w+)",\s+"([^"]*)"', text))
problems = [f"{key}: got {values.get(key)!r}, want {want!r}"
            for key, want in expected_strings.items() if values.get(key) != want]
if not values.get("LegalCopyright", "").startswith("Copyright"):
    problems.append("LegalCopyright is not a copyright notice")
commas = identity["version"].replace(".", ",")
for fixed in ("FILEVERSION", "PRODUCTVERSION"):
    if not re.search(fixed + r"\s+" + re.escape(commas) + r"\b", text):
        problems.append(f"{fixed} is not {commas}")
if 'BLOCK "040904B0"' not in text or not re.search(r'"Translation",\s*0x0409,\s*1200', text):
    problems.append("language is not 0x0409 with the Unicode code page (1200)")
print("\n".join(problems) or f"version resource {sys.argv[2]}: every field as expected")
sys.exit(1 if problems else 0)
