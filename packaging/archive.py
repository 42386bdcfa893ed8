#!/usr/bin/env python3
"""Packs a folder into a ZIP or a gzipped tarball whose bytes depend only on
the files' contents and names, and on SOURCE_DATE_EPOCH.

    archive.py zip|tar ARCHIVE FOLDER

The archive holds FOLDER itself under its own name. Entries are sorted,
dated SOURCE_DATE_EPOCH, owned by 0:0, and have mode 755 (folders and
programs) or 644; the gzip header carries no name and no time.
"""
import gzip
import io
import os
import sys
import tarfile
import time
import zipfile


def entries(folder):
    """The folder and every file under it, sorted, as (name in archive, path)."""
    base = os.path.dirname(os.path.abspath(folder))
    found = []
    for here, dirs, files in os.walk(folder):
        for name in [here] + [os.path.join(here, f) for f in files]:
            found.append((os.path.relpath(os.path.abspath(name), base).replace(os.sep, "/"), name))
    return sorted(found)


def mode(path):
    return 0o755 if os.path.isdir(path) or os.access(path, os.X_OK) else 0o644


def write_zip(archive, folder, epoch):
    # ZIP times have no zone and a two-second step; 1980 is the earliest.
    date = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(archive, "w") as out:
        for name, path in entries(folder):
            is_dir = os.path.isdir(path)
            info = zipfile.ZipInfo(name + "/" if is_dir else name, date_time=date)
            info.create_system = 3  # Unix, so that the mode below is read
            info.external_attr = ((0o040000 if is_dir else 0o100000) | mode(path)) << 16
            if is_dir:
                out.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    out.writestr(info, f.read(), compresslevel=9)


def write_tar(archive, folder, epoch):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as out:
        for name, path in entries(folder):
            info = out.gettarinfo(path, arcname=name)
            info.mtime = epoch
            info.mode = mode(path)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            if info.isdir():
                out.addfile(info)
            else:
                with open(path, "rb") as f:
                    out.addfile(info, f)
    with open(archive, "wb") as f:
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, mtime=0, compresslevel=9) as z:
            z.write(buffer.getvalue())


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("zip", "tar"):
        sys.exit(__doc__)
    kind, archive, folder = sys.argv[1:]
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    (write_zip if kind == "zip" else write_tar)(archive, folder, epoch)


if __name__ == "__main__":
    main()
