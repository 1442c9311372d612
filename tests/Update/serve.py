"""Loopback servers for the download tests: prints "PORT n" once listening.

usage: serve.py http|ftp ROOT
HTTP serves ROOT plus /nosize (no length), /broken (cut short), /slow (trickles),
/to-file and /to-pkg (redirects to a file: URL and to /pkg.zip).
FTP serves ROOT read-only to user "korvel", password "secret".
"""
import functools
import http.server
import sys
import time

mode, root = sys.argv[1], sys.argv[2]
BODY = bytes(range(256)) * 64  # 16 KiB


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path == "/nosize":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(BODY)
            self.close_connection = True
        elif self.path == "/broken":
            self.send_response(200)
            self.send_header("Content-Length", str(len(BODY) * 10))
            self.end_headers()
            self.wfile.write(BODY)
            self.wfile.flush()
            self.close_connection = True
        elif self.path in ("/to-file", "/to-pkg"):
            self.send_response(302)
            self.send_header("Location", "file:///etc/passwd" if self.path == "/to-file" else "/pkg.zip")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif self.path == "/slow":
            self.send_response(200)
            self.send_header("Content-Length", str(1024 * 400))
            self.end_headers()
            try:
                for _ in range(400):
                    self.wfile.write(b"x" * 1024)
                    self.wfile.flush()
                    time.sleep(0.05)
            except OSError:
                pass
        else:
            super().do_GET()


if mode == "http":
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(Handler, directory=root))
    print("PORT", server.server_address[1], flush=True)
    server.serve_forever()
else:
    import logging
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user("korvel", "secret", root, perm="elr")
    FTPHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), FTPHandler)
    print("PORT", server.socket.getsockname()[1], flush=True)
    server.serve_forever()
