#!/usr/bin/env python3
"""How long the preview server keeps a real request waiting while it is
being stalled.

Usage: bench/stall.py [--fotolume PATH] [--idle 1000] [--slow 100] [--seconds 10]

Starts `fotolume --serve` on scenes/example.txt, opens IDLE connections that
send nothing and SLOW ones that send one byte of a request header every half
second (each reopened as soon as the server closes it), and meanwhile asks
for the page, the picture and an explanation, over and over, printing the
slowest and median answer of each. An open page is watched too: the scene is
saved once a second and every save must reach it as an event. Also prints
how long the server let a slow connection live (its whole request must
arrive within a few seconds, however steadily it trickles)."""
import argparse
import http.client
import os
import resource
import select
import shutil
import socket
import statistics
import subprocess
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def pressure(port, idle, slow, stop, lifetimes):
    """Keeps `idle` silent and `slow` trickling connections open, each
    opened again as soon as the server closes it."""
    poller = select.epoll()
    opened = {}  # descriptor: (socket, slow?, when opened, bytes sent)

    def connect(is_slow):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        opened[s.fileno()] = [s, is_slow, time.time(), 0]
        poller.register(s.fileno(), select.EPOLLIN | select.EPOLLRDHUP)

    for k in range(idle + slow):
        connect(k >= idle)
    request = b"GET /?t=0 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"a" * 10000
    last = 0.0
    while not stop.is_set():
        for fd, _ in poller.poll(0.1):
            s, is_slow, since, _ = opened.pop(fd)
            poller.unregister(fd)
            s.close()
            if is_slow:
                lifetimes.append(time.time() - since)
            connect(is_slow)
        if time.time() - last >= 0.5:
            last = time.time()
            for entry in opened.values():
                if entry[1]:
                    try:
                        entry[0].send(request[entry[3]:entry[3] + 1])
                        entry[3] += 1
                    except OSError:
                        pass
    for s, _, _, _ in opened.values():
        s.close()


def timed(port, path):
    start = time.time()
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request("GET", path)
    answer = c.getresponse()
    answer.read()
    c.close()
    return answer.status, time.time() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fotolume", default=os.path.join(ROOT, "build/release/src/fotolume"))
    parser.add_argument("--idle", type=int, default=1000)
    parser.add_argument("--slow", type=int, default=100)
    parser.add_argument("--seconds", type=float, default=10)
    args = parser.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    folder = tempfile.mkdtemp()
    scene = os.path.join(folder, "scene.txt")
    shutil.copy(os.path.join(ROOT, "scenes/example.txt"), scene)
    server = subprocess.Popen([args.fotolume, "--serve", "--threads", "1", scene, "320", "240"],
                              stdout=subprocess.PIPE, text=True)
    try:
        url = server.stdout.readline().strip()
        token, port = url.split("t=")[1], int(url.split(":")[2].split("/")[0])
        page = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        page.request("GET", "/events?t=" + token)
        events = page.getresponse()
        events.fp.raw._sock.setblocking(False)
        stop, lifetimes = threading.Event(), []
        attacker = threading.Thread(target=pressure,
                                    args=(port, args.idle, args.slow, stop, lifetimes))
        attacker.start()
        time.sleep(1.0)
        times = {"page": [], "image": [], "explain": []}
        paths = {"page": "/?t=", "image": "/image?t=", "explain": "/explain?x=10&y=10&t="}
        saves = received = 0
        end, next_save = time.time() + args.seconds, time.time()
        while time.time() < end:
            for name, path in paths.items():
                status, seconds = timed(port, path + token)
                assert status == 200, (name, status)
                times[name].append(seconds)
            if time.time() >= next_save:
                with open(scene, "a") as f:
                    f.write("\n")
                saves += 1
                next_save += 1.0
            try:
                received += events.fp.raw._sock.recv(1 << 16).count(b"\"phase\":\"done\"")
            except BlockingIOError:
                pass
            time.sleep(0.05)
        stop.set()
        attacker.join()
        print("%d idle and %d slow connections held open for %.0f s" %
              (args.idle, args.slow, args.seconds))
        for name, values in times.items():
            print("%-8s %4d answers: median %6.1f ms, slowest %6.1f ms" %
                  (name, len(values), 1000 * statistics.median(values), 1000 * max(values)))
        print("open page: %d saves, %d finished renders told" % (saves, received))
        if lifetimes:
            print("slow connections closed after %.1f s (median), %.1f s at most" %
                  (statistics.median(lifetimes), max(lifetimes)))
    finally:
        server.terminate()
        server.wait(10)
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
