#!/usr/bin/env python3
"""An update host that serves a folder like any web server, except for the paths named
on the command line, where it misbehaves on purpose:

  --short PATH      announces 1000 bytes more than it sends, then closes
  --stall PATH      sends half the body, stays silent for a while, then closes
  --loop PATH       answers 302 with a Location pointing at itself, for ever
  --huge PATH       announces a Content-Length of 24,000,001 bytes
  --interim PATH    answers "100 Continue" without end
  --trickle PATH    sends the body one byte a second
  --pace RATE       sends every body at RATE bytes a second (a slow link)
  --cut-every N     honours Range and closes every connection after N body bytes
  --cut-first N     closes the first answer of each path after N body bytes
  --range-whole     answers a Range request with 200 and the whole body
  --range-wrong     answers a Range request with 206 and a Content-Range that starts at 0

Every request is logged as a line "request PATH via=V" (V: its Via header), and with the
four above one more, "sent PATH range=R bytes=N" (N: the body's bytes written).
"""
import argparse
import http.server
import os
import socketserver
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--directory", required=True)
    for fault in ("short", "stall", "loop", "huge", "interim", "trickle"):
        parser.add_argument("--" + fault, action="append", default=[])
    parser.add_argument("--pace", type=int, default=0)
    parser.add_argument("--cut-every", type=int, default=0)
    parser.add_argument("--cut-first", type=int, default=0)
    parser.add_argument("--range-whole", action="store_true")
    parser.add_argument("--range-wrong", action="store_true")
    args = parser.parse_args()
    answered = set()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def log_message(self, fmt, *values):
            print(fmt % values, flush=True)

        def do_GET(self):
            path = self.path
            # Through a proxy the request line may name the whole address.
            if path.startswith("http://"):
                path = "/" + path.split("/", 3)[3]
            print(f"request {path} via={self.headers.get('Via', '-')}", flush=True)
            local = os.path.join(args.directory, path.lstrip("/"))
            if path in args.interim:
                try:
                    while True:
                        self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
                except OSError:
                    return
            if path in args.loop:
                self.send_response(302)
                self.send_header("Location", f"http://127.0.0.1:{args.port}{path}")
                self.end_headers()
                return
            if not os.path.isfile(local):
                self.send_error(404)
                return
            body = open(local, "rb").read()
            if args.cut_every or args.cut_first or args.range_whole or args.range_wrong:
                self.ranged(path, body)
                return
            self.send_response(200)
            if path in args.huge:
                self.send_header("Content-Length", "24000001")
                self.end_headers()
                self.wfile.write(body)
                return
            extra = 1000 if path in args.short else 0
            self.send_header("Content-Length", str(len(body) + extra))
            self.end_headers()
            if path in args.trickle:
                try:
                    for i in range(len(body)):
                        self.wfile.write(body[i : i + 1])
                        self.wfile.flush()
                        time.sleep(1.0)
                except OSError:
                    pass
                return
            if path in args.stall:
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                time.sleep(1.0)
                return
            if args.pace:
                # Twenty slices a second, each sent when the clock says it is due.
                start = time.monotonic()
                step = max(1, args.pace // 20)
                try:
                    for sent in range(0, len(body), step):
                        due = start + sent / args.pace
                        time.sleep(max(0.0, due - time.monotonic()))
                        self.wfile.write(body[sent : sent + step])
                except OSError:
                    pass
                return
            self.wfile.write(body)

        def ranged(self, path, body):
            wanted = self.headers.get("Range", "")
            start = 0
            if wanted.startswith("bytes=") and not args.range_whole:
                start = int(wanted[6:].split("-")[0])
                first = 0 if args.range_wrong else start
                self.send_response(206)
                self.send_header("Content-Range", f"bytes {first}-{len(body) - 1}/{len(body)}")
                if args.range_wrong:
                    start = 0
            else:
                self.send_response(200)
            self.send_header("Content-Length", str(len(body) - start))
            self.end_headers()
            end = len(body)
            if args.cut_every:
                end = min(end, start + args.cut_every)
            elif args.cut_first and path not in answered:
                end = min(end, start + args.cut_first)
            answered.add(path)
            sent = 0
            try:
                self.wfile.write(body[start:end])
                sent = end - start
            except OSError:
                pass
            print(f"sent {path} range={wanted or '-'} bytes={sent}", flush=True)

    socketserver.TCPServer.allow_reuse_address = True
    with socketserver.ThreadingTCPServer(("127.0.0.1", args.port), Handler) as server:
        server.serve_forever()


if __name__ == "__main__":
    main()
