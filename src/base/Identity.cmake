# The program's identity, declared once. The version is project()'s; every
# other form of it is derived here. The version header, the ELF package note,
# the Windows VERSIONINFO resource, the desktop entry, the metainfo, the .deb
# and the tests' identity.json are all generated from these values.
set(KESTRINE_APP_TITLE "Kestrine")
set(KESTRINE_APP_ID "example.brimvale.Kestrine")
# The name of the .deb, which the package note names too.
set(KESTRINE_PACKAGE_NAME "kestrine")
# The maker's reverse domain, the application id without the program's name.
string(REGEX REPLACE "\\.[^.]*$" "" KESTRINE_DEVELOPER_ID "${KESTRINE_APP_ID}")
set(KESTRINE_WEB_SITE "www.brimvale.example")
set(KESTRINE_SUPPORT_ADDRESS "support@brimvale.example")
set(KESTRINE_RELEASE_DATE "2026-12-07")
set(KESTRINE_COMMENTS "Kestrine Server of IIS")
set(KESTRINE_COMPANY_NAME "Brimvale Systems Limited")
set(KESTRINE_PRODUCT_NAME "Kestrine")
set(KESTRINE_INTERNAL_NAME "Kestrine")
set(KESTRINE_ORIGINAL_FILENAME "Kestrine.exe")
set(KESTRINE_LEGAL_COPYRIGHT "Copyright (C) 2026 Brimvale Systems Limited. All rights reserved.")
set(KESTRINE_LANGUAGE_ID "0x0409")
set(KESTRINE_CODE_PAGE "1200")

# 1.0.0.0, its comma form 1,0,0,0, and the text form "1.00": the major
# number, then the minor as two digits.
set(KESTRINE_FILE_VERSION "${PROJECT_VERSION}")
string(REPLACE "." "," KESTRINE_FILE_VERSION_COMMAS "${PROJECT_VERSION}")
if(PROJECT_VERSION_MINOR LESS 10)
  set(KESTRINE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(KESTRINE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()

# The architecture as Debian names it (amd64, not x86_64), as the .deb does.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE KESTRINE_ARCHITECTURE
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT KESTRINE_ARCHITECTURE)
  set(KESTRINE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
endif()

# "key=value" pairs as one JSON object in OUT.
function(kestrine_json_object out)
  set(pairs "")
  foreach(pair ${ARGN})
    string(FIND "${pair}" "=" eq)
    string(SUBSTRING "${pair}" 0 ${eq} key)
    math(EXPR value_start "${eq} + 1")
    string(SUBSTRING "${pair}" ${value_start} -1 value)
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    list(APPEND pairs "\"${key}\":\"${value}\"")
  endforeach()
  list(JOIN pairs "," body)
  set(${out} "{${body}}" PARENT_SCOPE)
endfunction()

# The version block as the package note carries it.
set(KESTRINE_VERSION_BLOCK
    "type=deb" "os=debian" "name=${KESTRINE_PACKAGE_NAME}" "version=${KESTRINE_FILE_VERSION}"
    "architecture=${KESTRINE_ARCHITECTURE}"
    "fileVersion=${KESTRINE_FILE_VERSION}" "fileVersionText=${KESTRINE_VERSION_TEXT}"
    "productVersion=${KESTRINE_FILE_VERSION}" "productVersionText=${KESTRINE_VERSION_TEXT}"
    "comments=${KESTRINE_COMMENTS}" "companyName=${KESTRINE_COMPANY_NAME}"
    "productName=${KESTRINE_PRODUCT_NAME}" "internalName=${KESTRINE_INTERNAL_NAME}"
    "originalFilename=${KESTRINE_ORIGINAL_FILENAME}"
    "legalCopyright=${KESTRINE_LEGAL_COPYRIGHT}"
    "language=${KESTRINE_LANGUAGE_ID}" "codePage=${KESTRINE_CODE_PAGE}")
kestrine_json_object(KESTRINE_NOTE_JSON ${KESTRINE_VERSION_BLOCK})

# What the tests compare against, instead of repeating the values: the version
# block plus the rest of the identity.
set(KESTRINE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(KESTRINE_IDENTITY_JSON ${KESTRINE_GENERATED_DIR}/identity.json)
set(KESTRINE_DESKTOP_ENTRY ${KESTRINE_GENERATED_DIR}/packaging/${KESTRINE_APP_ID}.desktop)
set(KESTRINE_METAINFO ${KESTRINE_GENERATED_DIR}/packaging/${KESTRINE_APP_ID}.metainfo.xml)
kestrine_json_object(identity_json ${KESTRINE_VERSION_BLOCK}
    "appId=${KESTRINE_APP_ID}"
    "webSite=${KESTRINE_WEB_SITE}" "supportAddress=${KESTRINE_SUPPORT_ADDRESS}"
    "releaseDate=${KESTRINE_RELEASE_DATE}")
file(WRITE ${KESTRINE_IDENTITY_JSON} "${identity_json}\n")
