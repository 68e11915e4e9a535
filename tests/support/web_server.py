#!/usr/bin/env python3
"""The test pages over HTTP on the loopback, as `python3 -m http.server` serves a
folder, with one script that arrives late, as over a slow network: a page that
loads it stops its parser there, and stays loading with only what came before
it shown until the script comes.

Usage: web_server.py FOLDER [SECONDS]   (the script's lateness, 0.8 s by default)
Prints the port it listens on in http.server's words, then serves until killed.
"""
import functools
import http.server
import sys
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    late_seconds = 0.8

    def do_GET(self):
        if self.path.split("?")[0] != "/late.js":
            return super().do_GET()
        time.sleep(self.late_seconds)
        body = b"// arrived late\n"
        self.send_response(200)
        self.send_header("Content-Type", "text/javascript")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass  # the test's output stays its own


def main():
    Handler.late_seconds = float(sys.argv[2]) if len(sys.argv) > 2 else Handler.late_seconds
    handler = functools.partial(Handler, directory=sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    port = server.server_address[1]
    print(f"Serving HTTP on 127.0.0.1 port {port} (http://127.0.0.1:{port}/) ...", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
