#!/usr/bin/env python3
"""A local mail server for the alert tests (aiosmtpd).

Listens on 127.0.0.1 only, on a free port; prints "port <n>" as its first
line. By --mode:

  starttls  (default) offers STARTTLS with the given certificate and
            requires it before AUTH and before any mail;
  implicit  speaks TLS from the first byte (as an "smtps://" server);
  plain     offers no TLS at all (a server no password may be sent to).

AUTH (PLAIN or LOGIN) must name --user and --password. Each mail received is written to --outdir as <n>.eml (the data
as sent), with its envelope in <n>.env ("from" line, then one "to" line per
recipient). Ends on SIGTERM.
"""
import argparse
import os
import signal
import socket
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--outdir", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--mode", choices=["starttls", "implicit", "plain"], default="starttls")
    args = parser.parse_args()
    count = {"n": 0}

    class Store:
        async def handle_DATA(self, server, session, envelope):
            count["n"] += 1
            base = os.path.join(args.outdir, str(count["n"]))
            with open(base + ".eml.tmp", "wb") as mail:
                mail.write(envelope.original_content or envelope.content)
            with open(base + ".env", "w") as env:
                env.write("from " + envelope.mail_from + "\n")
                for rcpt in envelope.rcpt_tos:
                    env.write("to " + rcpt + "\n")
            os.rename(base + ".eml.tmp", base + ".eml")
            return "250 OK"

    def authenticate(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword) and auth_data.login.decode() == args.user \
                and auth_data.password.decode() == args.password:
            return AuthResult(success=True)
        return AuthResult(success=False, handled=False)

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    if args.mode == "starttls":
        options = dict(tls_context=context, require_starttls=True, auth_require_tls=True)
    elif args.mode == "implicit":
        options = dict(ssl_context=context, auth_require_tls=False)
    else:
        options = dict(auth_require_tls=False)
    controller = Controller(Store(), hostname="127.0.0.1", port=port, authenticator=authenticate,
                            auth_required=True, **options)
    controller.start()
    print("port %d" % port, flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *unused: done.set())
    done.wait()
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
