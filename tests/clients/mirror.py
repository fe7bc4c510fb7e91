#!/usr/bin/env python3
"""Checks what a client made of a listed tree against the tree itself.

    mirror.py compare SOURCE DEST [--wget-log LOG]
        DEST must hold every file of SOURCE whose path has no hidden part
        (a name beginning with '.'), with the same bytes, and nothing else.
        With --wget-log (wget -nv, run in DEST with -nH), each saved file is
        matched to the URL it came from: wget names some files other than the
        URL says (it decodes "%2541" to "A" on disk), and saves the page of
        every folder URL, which must be that folder's index.html and nothing
        more. Every folder with no hidden part must have had its page fetched.
    mirror.py shown SOURCE FOLDER DUMP
        DUMP (lynx -dump -nolist of FOLDER's listing, FOLDER the URL path under
        SOURCE and ending in '/') must show each listed name of FOLDER as text
        at the start of a line, escaped as the page escapes it, and no hidden
        name.
Prints each mismatch and exits 1 when there is one.
"""
import hashlib
import os
import re
import sys
import urllib.parse


def hidden(relative):
    return any(part.startswith(b".") for part in relative.split(b"/"))


def sha(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def walk(top):
    """Relative paths (bytes) of the files and of the folders under top."""
    top = os.fsencode(top)
    files, folders = set(), {b""}
    for folder, subfolders, names in os.walk(top):
        relative = os.path.relpath(folder, top)
        relative = b"" if relative == b"." else relative + b"/"
        folders.update(relative + name + b"/" for name in subfolders)
        files.update(relative + name for name in names)
    return files, folders


def wget_saved(log, dest):
    """{file saved: path asked for}, from wget -nv's lines of saved URLs."""
    saved = {}
    line_re = re.compile(rb'URL:(\S+) \[[0-9/]+\] -> "(.*)" \[\d+\]$')
    with open(log, "rb") as lines:
        for line in lines:
            match = line_re.search(line.rstrip(b"\n"))
            if match:
                url = urllib.parse.urlsplit(match.group(1))
                if url.query:
                    saved[match.group(2)] = None  # a sorted page: never wanted
                else:
                    saved[match.group(2)] = urllib.parse.unquote_to_bytes(url.path)[1:]
    return saved


def compare(source, dest, wget_log):
    faults = []
    source_files, source_folders = walk(source)
    wanted = {path for path in source_files if not hidden(path)}
    got, _ = walk(dest)
    if wget_log:
        saved = wget_saved(wget_log, dest)
        pages = set()
        mapped = {}
        for path in got:
            if path not in saved:
                faults.append(f"{path!r}: saved, but not in wget's log")
                continue
            asked = saved[path]
            if asked is None:
                faults.append(f"{path!r}: a sorted listing, which --reject-regex should refuse")
            elif asked == b"" or asked.endswith(b"/"):
                if path == asked + b"index.html":
                    pages.add(asked)
                else:
                    faults.append(f"{path!r}: the page of {asked!r} saved under another name")
            else:
                mapped[asked] = path
        listed = {path for path in source_folders if not hidden(path)}
        for folder in sorted(listed - pages):
            faults.append(f"the listing of {folder!r} was never saved")
        for folder in sorted(pages - listed):
            faults.append(f"a listing of {folder!r} was saved, which is not a listed folder")
    else:
        mapped = {path: path for path in got}
    for path in sorted(set(mapped) - wanted):
        faults.append(f"{path!r}: came across, but is {'hidden' if hidden(path) else 'not in the tree'}")
    for path in sorted(wanted - set(mapped)):
        faults.append(f"{path!r}: missing")
    for path in sorted(wanted & set(mapped)):
        if sha(os.path.join(os.fsencode(source), path)) != sha(os.path.join(os.fsencode(dest), mapped[path])):
            faults.append(f"{path!r}: not the file's bytes")
    print(f"  {len(wanted & set(mapped))} of {len(wanted)} files compared, {len(faults)} faults")
    return faults


def shown_text(name):
    """A name as a listing shows it: bytes that are not UTF-8 as \\xHH."""
    text = name.decode("utf-8", "backslashreplace")
    return re.sub(r"\\x([0-9a-f]{2})", lambda m: "\\x" + m.group(1).upper(), text)


def shown(source, folder, dump):
    faults = []
    top = os.path.join(os.fsencode(source), os.fsencode(folder.lstrip("/")))
    with open(dump, encoding="utf-8", errors="replace") as text:
        lines = [line.strip() for line in text]
    for entry in sorted(os.listdir(top)):
        name = shown_text(entry) + ("/" if os.path.isdir(os.path.join(top, entry)) else "")
        shown_at_start = any(line == name or line.startswith(name + " ") for line in lines)
        if entry.startswith(b"."):
            if any(shown_text(entry) in line for line in lines):
                faults.append(f"the hidden {name!r} is shown")
        elif not shown_at_start:
            faults.append(f"{name!r} is not shown")
    return faults


def main():
    mode, args = sys.argv[1], sys.argv[2:]
    if mode == "compare":
        log = args[3] if len(args) == 4 and args[2] == "--wget-log" else None
        faults = compare(args[0], args[1], log)
    elif mode == "shown":
        faults = shown(*args)
    else:
        sys.exit(f"mirror.py: unknown mode {mode}")
    for fault in faults:
        print(f"  FAIL {fault}")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
