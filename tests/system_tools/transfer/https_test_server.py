"""usage: https_test_server.py CERT KEY -- serves the transfer tests on 127.0.0.1 for two
minutes at most, printing its port once listening."""
import http.server
import ssl
import sys
import threading
import time

MAXIMUM = 67108864
STATIC = {
    "/small": (200, b"hello", ()),
    "/exact": (200, b"a" * 16384, ()),
    "/over": (200, b"a" * 65536, ()),
    "/redirect": (302, b"", [("Location", "/small")]),
    "/plain-http-redirect": (302, b"", [("Location", "http://127.0.0.1:1/small")]),
}
# Announce a length, send a little of it, then stall.
PARTIAL = {"/announced-huge": (MAXIMUM + 1, 65536), "/stall": (10, 1)}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        status, body, headers = STATIC.get(self.path, (404, b"not found", ()))
        if self.path in PARTIAL:
            status, body = 200, b"x" * PARTIAL[self.path][1]
            headers = [("Content-Length", str(PARTIAL[self.path][0]))]
        elif self.path == "/unannounced-huge":
            status, headers = 200, [("Connection", "close")]
        else:
            headers = list(headers) + [("Content-Length", str(len(body)))]
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        try:
            self.wfile.write(body)
            self.wfile.flush()
            if self.path in PARTIAL:
                time.sleep(10)
            elif self.path == "/unannounced-huge":
                chunk = b"\0" * (1 << 20)
                for _ in range(MAXIMUM // len(chunk) + 2):
                    self.wfile.write(chunk)
                self.close_connection = True
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True


def main():
    cert, key = sys.argv[1:3]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Timer(120, server.shutdown).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
