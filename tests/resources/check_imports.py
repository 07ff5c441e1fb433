#!/usr/bin/env python3
"""Fails when updater.exe imports a DLL that a downloads folder could plant: every import must
be a DLL that Windows always takes from the system folder (KnownDLLs), or common controls,
which the manifest binds to the side-by-side assembly. Nothing may be delay-loaded.

usage: check_imports.py updater.exe        exit 0 when every import is allowed, 1 otherwise
"""
import sys

import pefile

ALLOWED = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
           "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "comctl32.dll"}

pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories([pefile.DIRECTORY_ENTRY[d] for d in
                           ("IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT")])
imports = [e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
delayed = [e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
bad = sorted(set(imports) - ALLOWED) + [d + " (delay-loaded)" for d in delayed]
print("imports:", " ".join(sorted(imports)))
if not imports or "kernel32.dll" not in imports:
    sys.exit("no import table read")
if bad:
    sys.exit("DLLs that could be planted beside the updater: " + ", ".join(bad))
