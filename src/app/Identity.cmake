# The program's identity, kept in one place: the version header, the ELF
# package note and the Windows VERSIONINFO resource are all generated from it.
set(KESTRINE_APP_TITLE "Kestrine")
set(KESTRINE_FILE_VERSION "1.0.0.0")
set(KESTRINE_FILE_VERSION_COMMAS "1,0,0,0")
set(KESTRINE_VERSION_TEXT "1.00")
set(KESTRINE_COMMENTS "Kestrine Server of IIS")
set(KESTRINE_COMPANY_NAME "Brimvale Systems Limited")
set(KESTRINE_PRODUCT_NAME "Kestrine")
set(KESTRINE_INTERNAL_NAME "Kestrine")
set(KESTRINE_ORIGINAL_FILENAME "Kestrine.exe")
set(KESTRINE_LEGAL_COPYRIGHT "Copyright (C) 2026 Brimvale Systems Limited. All rights reserved.")
set(KESTRINE_LANGUAGE_ID "0x0409")
set(KESTRINE_CODE_PAGE "1200")
