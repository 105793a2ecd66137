#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp server for the signing test: answers
each POSTed time-stamp query with `openssl ts -reply`, signed by the
time-stamp key and certificate in DIR (DIR/tsa.cnf names the rest).

    tsa_server.py DIR PORTFILE

Listens on a free port of 127.0.0.1 and writes that port to PORTFILE (a
FIFO in the test, so the caller's read waits until the server is up).
"""
import http.server
import os
import subprocess
import sys
import tempfile

KEYS = sys.argv[1]


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.NamedTemporaryFile(dir=KEYS, delete=False) as f:
            f.write(query)
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", os.path.join(KEYS, "tsa.cnf"),
             "-queryfile", f.name, "-inkey", os.path.join(KEYS, "tsa.key"),
             "-signer", os.path.join(KEYS, "tsa.pem"),
             "-chain", os.path.join(KEYS, "tsa-root.pem")],
            capture_output=True, check=False)
        os.unlink(f.name)
        sys.stderr.write(reply.stderr.decode("utf-8", "replace"))
        self.send_response(200 if reply.returncode == 0 else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *args):
        pass


def main():
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
    with open(sys.argv[2], "w") as f:
        f.write("%d\n" % server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
