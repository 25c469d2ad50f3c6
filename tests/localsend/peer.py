#!/usr/bin/env python3
"""A small device that speaks LocalSend's protocol (version 2), written for Quillo's tests
from the public description alone: the standard library only, HTTPS with a self-signed
certificate made by the openssl command.

As a receiver it serves /api/localsend/v2/{info,register,prepare-upload,upload,cancel} and
saves what arrives in --save. It prints one line per event on standard output, flushed:
  ready PORT FINGERPRINT | prepare COUNT [pin PIN] | message TEXT | upload NAME SIZE |
  cancel SESSION | register PORT PROTOCOL ALIAS
"""
import argparse
import hashlib
import http.server
import json
import os
import queue
import secrets
import ssl
import subprocess
import sys
import threading
import urllib.parse

CHUNK = 1 << 20
# Writes of more than this cost several times as much per byte on some kernels and disks.
WRITE = 64 << 10


def say(*words):
    print(*words, flush=True)


def make_certificate(folder, name):
    cert = os.path.join(folder, name + ".crt")
    key = os.path.join(folder, name + ".key")
    if not os.path.exists(cert):
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
             "/CN=" + name, "-keyout", key, "-out", cert],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(cert) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    return cert, key, hashlib.sha256(der).hexdigest()


class Device(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    options = None
    fingerprint = ""
    sessions = {}

    def log_message(self, *args):
        pass

    def answer(self, status, document=None):
        body = json.dumps(document).encode() if document is not None else b""
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        if body:
            self.send_header("Content-Type", "application/json")
        self.end_headers()
        self.wfile.write(body)

    def info(self):
        return {"alias": self.options.alias, "version": "2.1", "deviceModel": "test",
                "deviceType": self.options.device_type, "fingerprint": self.fingerprint,
                "port": self.options.port, "protocol": "https", "download": False}

    def body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/api/localsend/v2/info":
            return self.answer(200, self.info())
        self.answer(404)

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        route = url.path.rsplit("/", 1)[-1]
        if route == "register":
            try:
                device = json.loads(self.body())
            except ValueError:
                return self.answer(400)
            say("register", device.get("port"), device.get("protocol"), device.get("alias"))
            return self.answer(200, self.info())
        if route == "prepare-upload":
            return self.prepare(query)
        if route == "upload":
            return self.upload(query)
        if route == "cancel":
            say("cancel", query.get("sessionId", ""))
            self.sessions.pop(query.get("sessionId", ""), None)
            return self.answer(200)
        self.answer(404)

    def prepare(self, query):
        offer = json.loads(self.body())
        options = self.options
        if options.pin and query.get("pin") != options.pin:
            say("prepare", len(offer["files"]), "pin", query.get("pin", "-"))
            return self.answer(401)
        say("prepare", len(offer["files"]))
        if len(offer["files"]) == 1:
            only = next(iter(offer["files"].values()))
            if only.get("preview"):
                say("message", only["preview"])
                return self.answer(204)
        if options.status:
            return self.answer(options.status)
        files = {fid: f for fid, f in offer["files"].items()
                 if f["fileName"] not in options.decline}
        session = secrets.token_hex(8)
        tokens = {fid: secrets.token_hex(8) for fid in files}
        self.sessions[session] = {fid: (tokens[fid], files[fid]) for fid in files}
        self.answer(200, {"sessionId": session, "files": tokens})

    def upload(self, query):
        session = self.sessions.get(query.get("sessionId"), {})
        token, offered = session.get(query.get("fileId"), (None, None))
        if token is None or token != query.get("token"):
            self.body()
            return self.answer(403)
        name = offered["fileName"]
        if name.startswith("/") or ".." in name.split("/"):
            return self.answer(400)
        path = os.path.join(self.options.save, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb", buffering=0) as out:
            receive_body(self.rfile, out, int(self.headers.get("Content-Length", "0")))
            if self.options.sync:
                os.fsync(out.fileno())
        say("upload", name, os.path.getsize(path))
        self.answer(200)


def receive_body(rfile, out, left):
    """Reads left bytes into out: one thread decrypts into a few reused buffers while
    another writes them, so that neither waits for the other (both let go of the GIL)."""
    free, full = queue.Queue(), queue.Queue()
    for _ in range(3):
        free.put(memoryview(bytearray(CHUNK)))

    failed = []

    def write():
        while (item := full.get()) is not None:
            block, n = item
            done = 0
            while done < n and not failed:
                try:
                    done += out.write(block[done:min(n, done + WRITE)])
                except OSError as error:
                    failed.append(error)  # still handed back, so that the reader never waits
            free.put(block)

    writer = threading.Thread(target=write)
    writer.start()
    try:
        while left > 0:
            block = free.get()
            n = rfile.readinto(block[:min(CHUNK, left)])
            if not n:
                break
            full.put((block, n))
            left -= n
    finally:
        full.put(None)
        writer.join()
    if failed:
        raise failed[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=53317)
    parser.add_argument("--folder", required=True, help="where the certificate is kept")
    parser.add_argument("--name", default="peer", help="which certificate: another name, another one")
    parser.add_argument("--save", default=".")
    parser.add_argument("--alias", default="Test Phone")
    parser.add_argument("--device-type", default="mobile")
    parser.add_argument("--pin", default="")
    parser.add_argument("--status", type=int, default=0, help="answer every prepare-upload so")
    parser.add_argument("--decline", action="append", default=[], help="a file name to decline")
    parser.add_argument("--sync", action="store_true", help="sync each file to the disk before answering")
    options = parser.parse_args()

    cert, key, fingerprint = make_certificate(options.folder, options.name)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    Device.options = options
    Device.fingerprint = fingerprint
    server = http.server.ThreadingHTTPServer((options.bind, options.port), Device)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    say("ready", server.server_address[1], fingerprint)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
