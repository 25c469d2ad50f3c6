#!/usr/bin/env python3
"""The sending side of the LocalSend-protocol (version 2) test device, written for Quillo's
tests from the public description alone: the standard library only, HTTPS with its own
self-signed certificate (peer.py makes it), any server certificate accepted as such devices
do, but its SHA-256 told.

It sends files and folders (a folder's files as relative paths joined by '/'), or a text
message, and can misbehave on purpose (wrong token or session, a body longer or shorter than
offered, a literal fileName). One line per event on standard output, flushed, words split
by single spaces, a free-text field always last:
  cert HEX                      the server's certificate, once per connection that shows a new one
  status ROUTE CODE             an answer to info, register, prepare-upload or cancel
  info JSON | register JSON     the document that info or register answered
  answer ROUTE CODE BODY        the body of an answer that refused (one line, cut short)
  session SID                   the session prepare-upload opened
  accepted ID NAME | declined ID NAME
  uploaded ID CODE              the answer to one upload
  failed ROUTE REASON           no answer: the connection broke or timed out
  failed upload ID REASON
  done taken|refused
Exit status: 0 when everything asked for was taken (the text answered 204 or uploaded, every
file uploaded with 200), 1 when something was refused or cancelled, 2 when nobody answered.
"""
import argparse
import hashlib
import http.client
import json
import os
import ssl
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer import make_certificate, say  # noqa: E402

API = "/api/localsend/v2/"
BLOCK = 4 << 20
MAX_SHOWN_BODY = 200


class NoAnswer(Exception):
    def __init__(self, route, error):
        super().__init__(route, str(error) or type(error).__name__)
        self.route, self.reason = route, str(error) or type(error).__name__


class Offer:
    def __init__(self, fid, name, path=None, text=None):
        self.fid, self.name, self.path, self.text = fid, name, path, text
        self.size = len(text.encode()) if text is not None else os.path.getsize(path)

    def document(self):
        d = {"id": self.fid, "fileName": self.name, "size": self.size,
             "fileType": "text/plain" if self.text is not None else "application/octet-stream"}
        if self.text is not None:
            d["preview"] = self.text
        return d


class Device:
    """One HTTPS connection per request, so each request is a whole conversation of its own."""

    def __init__(self, options, cert, key, fingerprint):
        self.options = options
        self.fingerprint = fingerprint
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        self.context.check_hostname = False
        self.context.verify_mode = ssl.CERT_NONE
        if options.client_cert:
            self.context.load_cert_chain(cert, key)
        self.seen = set()

    def info(self):
        o = self.options
        return {"alias": o.alias, "version": "2.1", "deviceModel": "test",
                "deviceType": o.device_type, "fingerprint": self.fingerprint,
                "port": o.port, "protocol": "https", "download": False}

    def connect(self, route):
        o = self.options
        source = (o.source, 0) if o.source else None
        conn = http.client.HTTPSConnection(o.to, o.port, timeout=o.timeout,
                                           context=self.context, source_address=source)
        try:
            conn.connect()
        except OSError as error:
            raise NoAnswer(route, error)
        cert = hashlib.sha256(conn.sock.getpeercert(binary_form=True)).hexdigest()
        if cert not in self.seen:
            self.seen.add(cert)
            say("cert", cert)
        return conn

    def request(self, method, route, query=None, body=b""):
        conn = self.connect(route)
        try:
            conn.request(method, url(route, query), body=body,
                         headers={"Content-Type": "application/json"} if body else {})
            return read_answer(conn)
        except (OSError, http.client.HTTPException) as error:
            raise NoAnswer(route, error)
        finally:
            conn.close()

    def upload(self, query, offer, length, sent):
        """Streams the offer's bytes (sent of them, padded or cut) under a Content-Length of
        length; answers the status and body, or raises NoAnswer."""
        conn = self.connect("upload")
        try:
            conn.putrequest("POST", url("upload", query))
            conn.putheader("Content-Length", str(length))
            conn.putheader("Content-Type", "application/octet-stream")
            conn.endheaders()
            try:
                stream_body(conn.sock, offer, sent, self.options.rate)
            except OSError:
                pass  # a receiver may answer before it reads everything: look for that answer
            return read_answer(conn)
        except (OSError, http.client.HTTPException) as error:
            raise NoAnswer("upload", error)
        finally:
            conn.close()


def url(route, query):
    return API + route + ("?" + urllib.parse.urlencode(query) if query else "")


def read_answer(conn):
    response = conn.getresponse()
    return response.status, response.read()


def stream_body(sock, offer, count, rate):
    if offer.text is not None:
        text = offer.text.encode()
        sock.sendall(text[:count] + b"\0" * max(0, count - len(text)))
        return
    block = bytearray(BLOCK if not rate else max(1, min(BLOCK, rate // 10)))
    view = memoryview(block)
    start = time.monotonic()
    done = 0
    with open(offer.path, "rb", buffering=0) as f:
        while done < count:
            n = f.readinto(view[:min(len(block), count - done)])
            if not n:  # past the end: the padding of a body longer than offered
                n = min(len(block), count - done)
                view[:n] = b"\0" * n
            sock.sendall(view[:n])
            done += n
            if rate:
                ahead = done / rate - (time.monotonic() - start)
                if ahead > 0:
                    time.sleep(ahead)


def one_line(body):
    return body[:MAX_SHOWN_BODY].decode("utf-8", "replace").replace("\n", " ").replace("\r", " ")


def offers_for(paths, names):
    offers = []
    for path in paths:
        path = path.rstrip("/") or "/"
        if os.path.isdir(path):
            top = os.path.basename(os.path.abspath(path))
            for root, dirs, files in os.walk(path):
                dirs.sort()
                for f in sorted(files):
                    full = os.path.join(root, f)
                    rel = os.path.relpath(full, path).replace(os.sep, "/")
                    offers.append((top + "/" + rel, full))
        else:
            offers.append((os.path.basename(path), path))
    result = [Offer("f%d" % (i + 1), name, path=p) for i, (name, p) in enumerate(offers)]
    for offer, name in zip(result, names):
        offer.name = name
    return result


def show_document(route, status, body):
    say("status", route, status)
    if status == 200:
        try:
            say(route, json.dumps(json.loads(body), sort_keys=True, separators=(",", ":")))
        except ValueError:
            say("answer", route, status, one_line(body))
    elif body:
        say("answer", route, status, one_line(body))
    return status == 200


def prepare(device, offers, pin):
    document = {"info": device.info(), "files": {o.fid: o.document() for o in offers}}
    status, body = device.request("POST", "prepare-upload", {"pin": pin} if pin else None,
                                  json.dumps(document).encode())
    say("status", "prepare-upload", status)
    if status != 200:
        if body:
            say("answer", "prepare-upload", status, one_line(body))
        return status, None, {}
    answer = json.loads(body)
    return status, answer["sessionId"], answer["files"]


def lied_sizes(options, offer):
    """Answers (Content-Length, bytes sent) for an upload of the offer."""
    lie = options.size_lie
    sent = max(0, offer.size + lie)
    return (offer.size if options.length_lie else sent), sent


def upload_all(device, options, offers, session, tokens):
    """Uploads each accepted offer in turn; answers whether every one was taken."""
    accepted = [o for o in offers if o.fid in tokens]
    all_taken = True
    for done, offer in enumerate(accepted):
        if options.cancel_after is not None and done >= options.cancel_after:
            status, _ = device.request("POST", "cancel", {"sessionId": session})
            say("status", "cancel", status)
            return False
        token = tokens[offer.fid]
        if options.wrong_token:
            others = [tokens[o.fid] for o in accepted if o.fid != offer.fid]
            token = others[0] if others else token + "x"
        sid = options.session or (session + "x" if options.wrong_session else session)
        length, sent = lied_sizes(options, offer)
        query = {"sessionId": sid, "fileId": offer.fid, "token": token}
        try:
            status, body = device.upload(query, offer, length, sent)
        except NoAnswer as error:
            say("failed", "upload", offer.fid, error.reason)
            all_taken = False
            continue
        say("uploaded", offer.fid, status)
        if status != 200:
            all_taken = False
            if body:
                say("answer", "upload", status, one_line(body))
    if options.cancel_after is not None and options.cancel_after >= len(accepted):
        status, _ = device.request("POST", "cancel", {"sessionId": session})
        say("status", "cancel", status)
        return False
    return all_taken


def send(device, options, offers):
    status, session, tokens = prepare(device, offers, options.pin)
    if status == 204:
        # Taken as it is: a text message, or nothing the receiver needs to have uploaded.
        return True
    if session is None:
        return False
    say("session", session)
    for offer in offers:
        say("accepted" if offer.fid in tokens else "declined", offer.fid, offer.name)
    taken = upload_all(device, options, offers, session, tokens)
    return taken and len(tokens) == len(offers)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="*", help="files and folders to send")
    parser.add_argument("--to", required=True, help="the receiver's address")
    parser.add_argument("--port", type=int, default=53317)
    parser.add_argument("--from", dest="source", default="", help="the address to send from")
    parser.add_argument("--folder", default="", help="where the certificate is kept (a new one if absent)")
    parser.add_argument("--name", default="sender", help="which certificate: another name, another one")
    parser.add_argument("--client-cert", action="store_true", help="present the certificate to the receiver")
    parser.add_argument("--alias", default="Test Sender")
    parser.add_argument("--device-type", default="mobile")
    parser.add_argument("--timeout", type=float, default=30.0, help="seconds without progress before giving up")
    parser.add_argument("--info", action="store_true", help="GET info and print its document")
    parser.add_argument("--register", action="store_true", help="POST register and print its document")
    parser.add_argument("--text", help="send this text message instead of files")
    parser.add_argument("--pin", default="")
    parser.add_argument("--cancel-after", type=int, help="send cancel after this many files")
    parser.add_argument("--rate", type=int, default=0, help="bytes per second at most (0: no limit)")
    hostile = parser.add_argument_group("misbehaviour")
    hostile.add_argument("--wrong-token", action="store_true",
                         help="upload with another accepted file's token (or a made-up one)")
    hostile.add_argument("--wrong-session", action="store_true", help="upload into a made-up session")
    hostile.add_argument("--session", default="", help="upload into this session instead (someone else's)")
    hostile.add_argument("--size-lie", type=int, default=0,
                         help="+N/-N: upload N bytes more or fewer than offered")
    hostile.add_argument("--length-lie", action="store_true",
                         help="with --size-lie, let Content-Length still say the offered size")
    hostile.add_argument("--file-name", action="append", default=[],
                         help="offer this literal fileName for the next file in order (e.g. ../x)")
    options = parser.parse_args()
    if options.text is not None and options.paths:
        parser.error("--text sends a message, not files")
    if options.file_name and not options.paths and options.text is None:
        parser.error("--file-name names a file to send")
    return options


def run(options, device):
    ok = True
    if options.info:
        status, body = device.request("GET", "info")
        ok = show_document("info", status, body) and ok
    if options.register:
        status, body = device.request("POST", "register", None, json.dumps(device.info()).encode())
        ok = show_document("register", status, body) and ok
    if options.text is not None:
        offers = [Offer("t1", (options.file_name or ["message.txt"])[0], text=options.text)]
        ok = send(device, options, offers) and ok
    elif options.paths:
        ok = send(device, options, offers_for(options.paths, options.file_name)) and ok
    return ok


def main():
    options = parse_arguments()
    with tempfile.TemporaryDirectory() as scratch:
        cert, key, fingerprint = make_certificate(options.folder or scratch, options.name)
        device = Device(options, cert, key, fingerprint)
        try:
            ok = run(options, device)
        except NoAnswer as error:
            say("failed", error.route, error.reason)
            say("done", "refused")
            return 2
    say("done", "taken" if ok else "refused")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
