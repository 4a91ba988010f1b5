#!/usr/bin/env python3
"""A local imitation of the webhooks that the alert channels post to.

Listens on 127.0.0.1 only, on a free port, over TLS when given a
certificate; prints "port <n>" as its first line. Every request is written to
the record folder as <n>.req (n counting from 1), renamed into place whole:

  POST /send?a=1&timestamp=...        <- method and target as received
  Content-Type: application/json      <- "" when the request had none
                                      <- an empty line
  <the body's bytes as received>

and answered 200 with {"errcode":0,"errmsg":"ok"}, except that the first
--fail requests are answered 500. Ends on SIGTERM.
"""
import argparse
import http.server
import os
import signal
import ssl
import sys
import threading


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--fail", type=int, default=0)
    args = parser.parse_args()
    lock = threading.Lock()
    state = {"left_to_fail": args.fail, "count": 0}

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *unused):
            pass

        def answer(self):
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else b""
            with lock:
                state["count"] += 1
                name = os.path.join(args.record, "%d.req" % state["count"])
                with open(name + ".tmp", "wb") as record:
                    head = "%s %s\nContent-Type: %s\n\n" % (
                        self.command, self.path, self.headers.get("Content-Type", ""))
                    record.write(head.encode("utf-8") + body)
                os.rename(name + ".tmp", name)
                failing = state["left_to_fail"] > 0
                if failing:
                    state["left_to_fail"] -= 1
            reply = b'{"errcode":500,"errmsg":"busy"}' if failing else b'{"errcode":0,"errmsg":"ok"}'
            self.send_response(500 if failing else 200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        do_GET = answer
        do_POST = answer

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    signal.signal(signal.SIGTERM, lambda *unused: threading.Thread(target=server.shutdown).start())
    print("port %d" % server.server_address[1], flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
