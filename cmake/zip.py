#!/usr/bin/env python3
# Packs a folder into a zip the same way every time, for a release: its files
# in the byte order of their names, each with the time SOURCE_DATE_EPOCH (as
# UTC, whatever the time zone) and mode 755 if it is a program, 644 if not;
# no folder entries, no owner, no extra fields. CPack's zip takes its order
# from the file system's listing and stores the builder's user and group.
#
#   cmake/zip.py ZIP FOLDER     run where FOLDER is, which becomes the zip's top folder
import os, stat, sys, time, zipfile

archive, top = sys.argv[1], sys.argv[2]
when = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
names = sorted(os.path.join(folder, name) for folder, _, files in os.walk(top) for name in files)
with zipfile.ZipFile(archive, "w") as packed:
    for name in names:
        entry = zipfile.ZipInfo(name, when)
        entry.create_system = 3  # Unix, where the mode below is read
        program = os.stat(name).st_mode & (stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
        entry.external_attr = (stat.S_IFREG | (0o755 if program else 0o644)) << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(name, "rb") as file:
            packed.writestr(entry, file.read(), compresslevel=9)
