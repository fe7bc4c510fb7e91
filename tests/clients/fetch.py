#!/usr/bin/env python3
"""Python's http.client against a running server and the site of site.py:
every URL of the manifest is fetched and its status, headers and body checked
(bodies by SHA-256, streamed, so the 100 MiB file never sits in memory).

    fetch.py PORT MANIFEST
Prints one line per failure and exits 1 if there was any.
"""
import hashlib
import http.client
import json
import socket
import sys

failures = []


def fail(what):
    failures.append(what)
    print("  FAIL", what, flush=True)


def request(port, method, url):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    connection.request(method, url)
    return connection, connection.getresponse()


def body_digest(response):
    digest, size = hashlib.sha256(), 0
    while True:
        piece = response.read(1 << 20)
        if not piece:
            return digest.hexdigest(), size
        digest.update(piece)
        size += len(piece)


def check_headers(url, response, status, ctype, size):
    # http.client asks with HTTP/1.1, so the status line says 1.1.
    if response.status != status or response.version != 11:
        fail(f"{url}: got HTTP/{response.version / 10:.1f} {response.status}, want 1.1 {status}")
    if ctype is not None and response.getheader("Content-Type") != ctype:
        fail(f"{url}: Content-Type {response.getheader('Content-Type')!r}, want {ctype!r}")
    if response.getheader("Content-Length") != str(size):
        fail(f"{url}: Content-Length {response.getheader('Content-Length')!r}, want {size}")
    if response.getheader("Connection") != "close":
        fail(f"{url}: no Connection: close")


def raw(port, data):
    """Sends bytes as they are and returns everything until the server closes."""
    answer = b""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=15) as s:
            s.sendall(data)
            while True:
                piece = s.recv(65536)
                if not piece:
                    return answer
                answer += piece
    except OSError as error:
        fail(f"{data[:40]!r}: {error} after {len(answer)} bytes")
        return answer


def main():
    port, manifest = int(sys.argv[1]), json.load(open(sys.argv[2]))
    error_sha, error_size = manifest["error_page_sha256"], manifest["error_page_size"]

    def get(url, want):
        connection, response = request(port, "GET", url)
        check_headers(url, response, 200, want["type"], want["size"])
        digest, size = body_digest(response)
        if (digest, size) != (want["sha256"], want["size"]):
            fail(f"{url}: body of {size} bytes differs from the file ({want['size']} bytes)")
        connection.close()

    def head(url, want):
        connection, response = request(port, "HEAD", url)
        if want:
            check_headers(url, response, 200, want["type"], want["size"])
        else:
            check_headers(url, response, 404, "text/html", error_size)
        if response.read() != b"":
            fail(f"HEAD {url}: a body came with the answer")
        connection.close()

    def redirect(url, location):
        connection, response = request(port, "GET", url)
        check_headers(url, response, 301, None, 0)
        if response.getheader("Location") != location:
            fail(f"{url}: Location {response.getheader('Location')!r}, want {location!r}")
        connection.close()

    cases = [(get, url, want) for url, want in manifest["ok"].items()]
    cases += [(head, url, manifest["ok"].get(url))
              for url in ["/index.htm", "/file-64k.bin", "/missing.htm"]]
    cases += [(redirect, url, location) for url, location in manifest["redirect"].items()]
    for check, url, want in cases:
        try:
            check(url, want)
        except (OSError, http.client.HTTPException) as error:
            fail(f"{check.__name__.upper()} {url}: {error!r}")

    for url in manifest["refused"]:
        answer = raw(port, f"GET {url} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
        head, _, body = answer.partition(b"\r\n\r\n")
        if not head.startswith(b"HTTP/1.1 404 Not Found\r\n"):
            fail(f"{url}: not refused with 404: {head[:60]!r}")
        if hashlib.sha256(body).hexdigest() != error_sha or b"SECRET-" in answer:
            fail(f"{url}: the body is not the error page")

    # A request line without a version word: the bare error page, no header.
    answer = raw(port, b"GET /index.htm\r\n")
    if hashlib.sha256(answer).hexdigest() != error_sha:
        fail(f"HTTP/0.9 request: want the bare error page, got {answer[:60]!r}")

    print(f"  python http.client: {len(manifest['ok'])} files, "
          f"{len(manifest['redirect'])} redirects, {len(manifest['refused'])} refusals checked, "
          f"{len(failures)} failures", flush=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
