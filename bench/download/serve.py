#!/usr/bin/env python3
"""Serves one file over HTTP/1.1 on 127.0.0.1 with byte ranges.

GET with "Range: bytes=N-" (or "bytes=N-M") answers 206 with Content-Range;
without it, 200 with the whole file. The body goes out with sendfile. Prints
the port on its first line of output, then serves until killed.

    serve.py FILE [--port N] [--ignore-range]
"""
import argparse
import os
import re
import socket
import sys
import threading

RANGE = re.compile(r"^\s*bytes\s*=\s*(\d+)\s*-\s*(\d*)\s*$", re.I)


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
        if len(data) > 65536:
            return None
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")


def serve(conn, path, size, ignore_range):
    try:
        while True:
            head = read_head(conn)
            if head is None:
                return
            lines = head.split("\r\n")
            method = lines[0].split(" ")[0]
            headers = {}
            for line in lines[1:]:
                if ":" in line:
                    name, value = line.split(":", 1)
                    headers[name.strip().lower()] = value.strip()
            start, end = 0, size - 1
            status = "200 OK"
            extra = ""
            match = RANGE.match(headers.get("range", "")) if not ignore_range else None
            if match:
                start = int(match.group(1))
                if match.group(2):
                    end = min(int(match.group(2)), size - 1)
                if start >= size or start > end:
                    conn.sendall(("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%d\r\n"
                                  "Content-Length: 0\r\n\r\n" % size).encode())
                    continue
                status = "206 Partial Content"
                extra = "Content-Range: bytes %d-%d/%d\r\n" % (start, end, size)
            length = end - start + 1
            conn.sendall(("HTTP/1.1 %s\r\nContent-Type: application/x-tar\r\nContent-Length: %d\r\n"
                          "Accept-Ranges: bytes\r\n%s\r\n" % (status, length, extra)).encode())
            if method == "HEAD":
                continue
            with open(path, "rb") as f:
                offset = start
                while length > 0:
                    sent = os.sendfile(conn.fileno(), f.fileno(), offset, min(length, 1 << 30))
                    if sent <= 0:
                        return
                    offset += sent
                    length -= sent
    except (BrokenPipeError, ConnectionResetError):
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--ignore-range", action="store_true")
    args = parser.parse_args()
    size = os.path.getsize(args.file)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, args.file, size, args.ignore_range), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
