"""A local HTTPS server for the transfer tests: 127.0.0.1 only, ends itself after a while.

usage: https_test_server.py CERT KEY MANIFEST_FILE
Prints "<port>" once listening.
"""
import http.server
import ssl
import sys
import threading
import time

LIFETIME_SECONDS = 120
MAXIMUM = 67108864
STATIC = {
    "/small": (200, b"hello", ()),
    "/exact": (200, b"a" * 16384, ()),
    "/over": (200, b"a" * 16385, ()),
    "/redirect": (302, b"", [("Location", "/small")]),
    "/plain-http-redirect": (302, b"", [("Location", "http://127.0.0.1:1/small")]),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    manifest = b""
    manifest_mode = ["plain"]

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path
        if path.startswith("/_mode/"):
            Handler.manifest_mode[0] = path[len("/_mode/"):]
            return self.answer(200, b"ok")
        if path == "/downloads/sensor-companion.json":
            if Handler.manifest_mode[0] == "redirect":
                return self.answer(302, b"", [("Location", "/elsewhere.json")])
            return self.answer(200, Handler.manifest)
        if path == "/elsewhere.json":
            return self.answer(200, Handler.manifest)
        if path in STATIC:
            return self.answer(*STATIC[path])
        if path == "/announced-huge":
            self.send_response(200)
            self.send_header("Content-Length", str(MAXIMUM + 1))
            self.end_headers()
            self.wfile.write(b"\0" * 65536)
            time.sleep(5)
            return
        if path == "/unannounced-huge":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = b"\0" * (1 << 20)
            try:
                for _ in range(MAXIMUM // len(chunk) + 2):
                    self.wfile.write(chunk)
            except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
                pass
            self.close_connection = True
            return
        if path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"x")
            self.wfile.flush()
            time.sleep(10)
            return
        self.answer(404, b"not found")


def main():
    cert, key, manifest = sys.argv[1:4]
    with open(manifest, "rb") as f:
        Handler.manifest = f.read()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Timer(LIFETIME_SECONDS, server.shutdown).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
