#!/usr/bin/python3
"""Stand-in for an Alibaba Cloud OSS endpoint on 127.0.0.1: objects in memory,
PUT/GET/DELETE of /<key> on <bucket>.localhost (virtual-hosted) or of
/<bucket>/<key> on an IP address (path style). Every request must carry a
Date within 15 minutes and `Authorization: OSS <id>:<signature>` with
signature = Base64(HMAC-SHA1(secret, VERB\\nContent-MD5\\nContent-Type\\nDate\\n
<x-oss- headers, lower-cased and sorted, "name:value\\n"></bucket/key>)).
Usage: oss_server.py <access id> <secret>. Prints "PORT <n>", then one line
per request: REQ <status> <verb> /<bucket>/<key> <style> author=<x-oss-meta-author>"""
import base64, email.utils, hashlib, hmac, sys, time, urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ACCESS_ID, SECRET = sys.argv[1].encode(), sys.argv[2].encode()
objects = {}


def error_xml(code):
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code><Message>%s</Message>"
            "<RequestId>0</RequestId></Error>" % (code, code)).encode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", ctype="application/xml"):
        self.send_response(status)
        self.send_header("x-oss-request-id", "req-%d" % time.monotonic_ns())
        if status != 204:
            self.send_header("Content-Type", ctype)
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if status != 204:
            self.wfile.write(body)

    def target(self):
        host = self.headers.get("Host", "").rsplit(":", 1)[0]
        path = urllib.parse.unquote_to_bytes(urllib.parse.urlsplit(self.path).path)
        if host.endswith(".localhost"):
            return host[: -len(".localhost")].encode(), path[1:], "vhost"
        bucket, _, key = path[1:].partition(b"/")
        return bucket, key, "path"

    def check(self, bucket, key):
        date = self.headers.get("Date", "")
        try:
            skew = abs(time.time() - email.utils.parsedate_to_datetime(date).timestamp())
        except (TypeError, ValueError):
            return "AccessDenied"
        if skew > 900:
            return "RequestTimeTooSkewed"
        oss = sorted((k.lower(), v.strip()) for k, v in self.headers.items() if k.lower().startswith("x-oss-"))
        text = (self.command + "\n" + self.headers.get("Content-MD5", "") + "\n" +
                self.headers.get("Content-Type", "") + "\n" + date + "\n" +
                "".join("%s:%s\n" % kv for kv in oss)).encode() + b"/" + bucket + b"/" + key
        expected = b"OSS " + ACCESS_ID + b":" + base64.b64encode(hmac.new(SECRET, text, hashlib.sha1).digest())
        if self.headers.get("Authorization", "").encode() != expected:
            return "SignatureDoesNotMatch"
        return None

    def handle_one(self):
        bucket, key, style = self.target()
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        problem = self.check(bucket, key)
        reply = (403, error_xml(problem)) if problem else self.act(bucket, key, body)
        # Logged before answering, so the client sees the line once it has the answer.
        print("REQ %d %s /%s/%s %s author=%s" % (reply[0], self.command, bucket.decode(errors="replace"),
                                                 key.decode(errors="replace"), style,
                                                 self.headers.get("x-oss-meta-author", "")), flush=True)
        self.answer(*reply)

    def act(self, bucket, key, body):
        if self.command == "PUT":
            objects[(bucket, key)] = body
            return 200, b""
        if self.command == "GET":
            data = objects.get((bucket, key))
            return (200, data, "application/octet-stream") if data is not None else (404, error_xml("NoSuchKey"))
        objects.pop((bucket, key), None)  # OSS answers 204 whether or not the object existed
        return 204, b""

    do_PUT = do_GET = do_DELETE = handle_one


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
