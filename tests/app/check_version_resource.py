"""Checks the generated Windows VERSIONINFO resource: the same version block as the ELF note."""
import re
import sys

text = open(sys.argv[1], encoding="utf-8").read()
expected_strings = {
    "Comments": "Kestrine Server of IIS",
    "CompanyName": "Brimvale Systems Limited",
    "FileVersion": "1.00",
    "InternalName": "Kestrine",
    "LegalCopyright": None,  # compared with the ELF note's value by check_version_note.py
    "OriginalFilename": "Kestrine.exe",
    "ProductName": "Kestrine",
    "ProductVersion": "1.00",
}
values = dict(re.findall(r'VALUE\s+"(\w+)",\s+"([^"]*)"', text))
problems = [f"{key}: got {values.get(key)!r}, want {want!r}"
            for key, want in expected_strings.items()
            if key not in values or (want is not None and values[key] != want)]
if not values.get("LegalCopyright", "").startswith("Copyright"):
    problems.append("LegalCopyright is not a copyright notice")
for fixed in ("FILEVERSION", "PRODUCTVERSION"):
    if not re.search(fixed + r"\s+1,0,0,0\b", text):
        problems.append(f"{fixed} is not 1,0,0,0")
if 'BLOCK "040904B0"' not in text or not re.search(r'"Translation",\s*0x0409,\s*1200', text):
    problems.append("language is not 0x0409 with the Unicode code page (1200)")
print("\n".join(problems) or f"version resource {sys.argv[1]}: every field as expected")
sys.exit(1 if problems else 0)
