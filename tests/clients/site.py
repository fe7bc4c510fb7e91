#!/usr/bin/env python3
"""Builds the test site the stages serve: BASE/root is the document root,
BASE/outside-secret.htm lies beside it, and BASE/manifest.json says what each
URL must answer (status, content type, size and SHA-256 of the body, and the
file under the root that holds it). With --shared, BASE/shared is a small tree
without default pages for the folder listing, its names the ones links and
pages get wrong most easily.

    site.py BASE [--big-mib N] [--shared]
"""
import argparse
import hashlib
import json
import os

ERROR_PAGE = (b"\n<HTML><HEAD><TITLE>HTTP Error</TITLE></HEAD><BODY><H1>Error 404: Not Found"
              b"</H1></BODY></HTML>")
SECRET = b"SECRET-"
# Plain text is labelled with its charset when its bytes are UTF-8 (ASCII is).
PLAIN_UTF8 = "text/plain; charset=utf-8"


def page(title, size):
    """An HTML page of exactly size bytes."""
    head = f"<!DOCTYPE html><html><head><title>{title}</title></head><body><p>".encode()
    tail = b"</p></body></html>\n"
    filler = (b"Tarvel test page. " * (size // 18 + 1))[: size - len(head) - len(tail)]
    return head + filler + tail


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def write_random(path, size):
    """Random bytes, written and hashed in pieces so the file never sits in memory."""
    digest = hashlib.sha256()
    with open(path, "wb") as out:
        left = size
        while left:
            piece = os.urandom(min(left, 1 << 20))
            digest.update(piece)
            out.write(piece)
            left -= len(piece)
    return digest.hexdigest()


# Names a link must encode and a page must escape to reach and show: a space,
# '#', '&', '%', '?', '+', a quote, a Latin-1 byte that is not UTF-8, UTF-8,
# numbers in natural order. Hidden names must never come across. None of them is
# a default page, so every folder is listed.
SHARED_FILES = [
    b"a space.txt", b"hash#1.txt", b"amp&and.txt", b"100%.txt", b"what?.txt", b"a+b.txt",
    b"it's \"quoted\".txt", b"caf\xe9-latin1.txt", "na\u00efve.txt".encode(), b"empty.bin",
    b"file2.dat", b"file10.dat", b"sub folder/inner #2.txt", b"sub folder/deeper/%41.txt",
    b"sub folder/deeper/x&y+z.bin", b"Zeta/readme.md", b"Zeta/\xff\xfe.bin",
]
SHARED_HIDDEN = [b".hidden.txt", b".secret/key.txt", b"sub folder/.cache.bin"]


def write_shared(base):
    """BASE/shared: files of a few bytes to some KiB, each of its own content."""
    root = os.path.join(os.fsencode(base), b"shared")
    for number, name in enumerate(SHARED_FILES + SHARED_HIDDEN):
        data = b"" if name == b"empty.bin" else os.urandom(37 + 997 * number)
        write(os.path.join(root, name), data)
    os.makedirs(os.path.join(root, b"empty folder"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("base")
    parser.add_argument("--big-mib", type=int, default=0)
    parser.add_argument("--shared", action="store_true")
    args = parser.parse_args()
    if args.shared:
        write_shared(args.base)
    root = os.path.join(args.base, "root")
    files = {}  # URL -> (file, content type)
    manifest = {"ok": {}, "refused": [], "redirect": {}, "error_page_sha256":
                hashlib.sha256(ERROR_PAGE).hexdigest(), "error_page_size": len(ERROR_PAGE)}

    def add(url, name, data, ctype):
        write(os.path.join(root, name), data)
        manifest["ok"][url] = {"size": len(data), "sha256": hashlib.sha256(data).hexdigest(),
                               "type": ctype, "file": os.path.join(root, name)}
        files[url] = name

    add("/index.htm", "index.htm", page("Index", 1024), "text/html")
    add("/page-1k.htm", "page-1k.htm", page("One KiB", 1024), "text/html")
    add("/sub/", "sub/index.htm", page("Sub", 700), "text/html")
    add("/sub/notes.txt", "sub/notes.txt", b"plain notes\n" * 40, PLAIN_UTF8)
    add("/docs/guide.htm", "Docs/Guide.HTM", page("Guide", 3000), "text/html")
    add("/caf%C3%A9.htm", "caf\u00e9.htm", page("Cafe", 1500), "text/html")
    add("/with%20space.css", "with space.css", b"body { margin: 0 }\n", "text/css")
    add("/data.json", "data.json", b'{"tarvel": true}\n', "application/json")
    add("/empty.htm", "empty.htm", b"", "text/html")
    add("/.well-known/security.txt", ".well-known/security.txt", b"Contact: nobody\n",
        PLAIN_UTF8)
    add("/file-64k.bin", "file-64k.bin", os.urandom(64 * 1024), "application/octet-stream")
    add("/file-300k.bin", "file-300k.bin", os.urandom(300 * 1024 + 5),
        "application/octet-stream")
    add("/file-4m.bin", "file-4m.bin", os.urandom(4 << 20), "application/octet-stream")
    # More than a loopback socket's largest send buffer: a reader that never
    # reads it stalls the sender for real.
    add("/file-16m.bin", "file-16m.bin", os.urandom(16 << 20), "application/octet-stream")
    # The same file under a query string and under upper-case letters.
    manifest["ok"]["/index.htm?lang=en&x=%20"] = manifest["ok"]["/index.htm"]
    manifest["ok"]["/INDEX.HTM"] = manifest["ok"]["/index.htm"]
    manifest["ok"]["/"] = manifest["ok"]["/index.htm"]
    if args.big_mib:
        size = args.big_mib << 20
        digest = write_random(os.path.join(root, "big.bin"), size)
        manifest["ok"]["/big.bin"] = {"size": size, "sha256": digest,
                                      "type": "application/octet-stream",
                                      "file": os.path.join(root, "big.bin")}

    manifest["redirect"]["/sub"] = "/sub/"
    manifest["redirect"]["/sub?x=1"] = "/sub/?x=1"

    # Never served: beside the root, hidden inside it, or a missing name.
    write(os.path.join(args.base, "outside-secret.htm"), SECRET + b"OUTSIDE beside the root\n")
    write(os.path.join(args.base, "rootx", "index.htm"), SECRET + b"OUTSIDE sibling folder\n")
    write(os.path.join(root, ".git", "config"), SECRET + b"HIDDEN git config\n")
    write(os.path.join(root, ".hidden.htm"), SECRET + b"HIDDEN dot file\n")
    write(os.path.join(root, "sub", ".ssh", "id_rsa"), SECRET + b"HIDDEN key\n")
    manifest["refused"] = [
        "/missing.htm", "/.git/config", "/.hidden.htm", "/%2Ehidden.htm", "/sub/.ssh/id_rsa",
        "/../outside-secret.htm", "/%2e%2e/outside-secret.htm", "/..%2foutside-secret.htm",
        "\\..\\outside-secret.htm", "/sub/../../outside-secret.htm", "//etc/passwd",
        "x/index.htm", "/index.htm%00.txt", "/a..b.htm", "/TARVEL.EXE",
    ]
    write(os.path.join(root, "a..b.htm"), SECRET + b"GUARD two dots\n")
    write(os.path.join(root, "tarvel.exe"), SECRET + b"GUARD program name\n")

    with open(os.path.join(args.base, "manifest.json"), "w") as out:
        json.dump(manifest, out, indent=1)


if __name__ == "__main__":
    main()
