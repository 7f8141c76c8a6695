#!/usr/bin/env python3
"""The live preview (--serve), end to end.

  preview_test.py FOTOLUME SCENES refusals   the server's answers, over plain HTTP
  preview_test.py FOTOLUME SCENES browser    the page in headless Chromium

The browser test is skipped (status 77) where Chromium, its driver or
Selenium is missing. With FOTOLUME_SCREENSHOT=PATH it leaves a picture of
the page there."""
import http.client
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

FOTOLUME, SCENES, MODE = sys.argv[1], sys.argv[2], sys.argv[3]
SIZE = (240, 180)
SAMPLES = "4" if os.environ.get("FOTOLUME_SLOW_BUILD") else "16"
OPTIONS = ["--samples", SAMPLES, "--aa-threshold", "0", "--threads", "1"]


def scene_text(color, broken=False):
    """The bundled example with its sphere's colour changed (a bad number
    on line 10 when broken)."""
    with open(os.path.join(SCENES, "example.txt")) as f:
        lines = f.read().split("\n")
    lines[8] = "solid %s" % color
    if broken:
        lines[9] = "checker 1 1 1 0 0 0 wide"
    return "\n".join(lines)


def write(path, text, rename=False):
    target = path + ".new" if rename else path
    with open(target, "w") as f:
        f.write(text)
    if rename:
        os.rename(target, path)


def reference(folder, text, size=SIZE, samples=SAMPLES):
    """The command line's own bytes for this scene."""
    scene, image = os.path.join(folder, "ref.txt"), os.path.join(folder, "ref.ppm")
    write(scene, text)
    subprocess.run([FOTOLUME, "--samples", samples, "--aa-threshold", "0", scene, image,
                    str(size[0]), str(size[1])], check=True)
    with open(image, "rb") as f:
        data = f.read()
    os.unlink(scene)
    os.unlink(image)
    return data[len(data) - size[0] * size[1] * 3:]


def start(scene, *extra):
    server = subprocess.Popen([FOTOLUME, "--serve", *OPTIONS, *extra, scene, str(SIZE[0]),
                               str(SIZE[1])], stdout=subprocess.PIPE, text=True)
    url = server.stdout.readline().strip()
    assert url.startswith("http://127.0.0.1:"), url
    return server, url


def wait(what, condition, seconds=90):
    end = time.time() + seconds
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("waited %d s for %s" % (seconds, what))


def get(url, path, host=None, method="GET"):
    address = url[len("http://"):].split("/")[0]
    connection = http.client.HTTPConnection(address, timeout=10)
    headers = {"Host": host} if host else {}
    connection.request(method, path, headers=headers)
    answer = connection.getresponse()
    body = answer.read()
    connection.close()
    return answer.status, body


def refusals(folder, scene):
    server, url = start(scene)
    try:
        token = url.split("t=")[1]
        before = sorted(os.listdir(folder))
        assert get(url, "/?t=" + token)[0] == 200
        assert get(url, "/")[0] == 403, "no token"
        wrong = token[:-1] + ("1" if token[-1] == "0" else "0")
        assert get(url, "/?t=" + wrong)[0] == 403, "a wrong token"
        assert get(url, "/image?t=" + "x" * len(token))[0] == 403
        assert get(url, "/?t=" + token, host="attacker.example:80")[0] == 403, "DNS rebinding"
        assert get(url, "/scene.txt?t=" + token)[0] == 404
        assert get(url, "/../" + os.path.basename(scene) + "?t=" + token)[0] in (400, 404)
        assert get(url, "/?t=" + token, method="POST")[0] in (404, 405)
        assert get(url, "/explain?t=%s&x=%d&y=0" % (token, SIZE[0]))[0] == 400
        wait("an explanation", lambda: get(url, "/explain?t=%s&x=120&y=90" % token)[0] == 200)
        assert get(url, "/?t=" + token + "x")[0] == 403, "the token as a prefix"
        assert get(url, "/?t=" + token + "&t=" + wrong)[0] == 200, "the first t counts"
        port = int(url.split(":")[2].split("/")[0])
        # Raw requests: one Host, without NUL, or 400.
        for request, status in [
                (b"GET /?t=%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nHost: 127.0.0.1:%d\r\n\r\n", b"400"),
                (b"GET /?t=%s HTTP/1.1\r\nHost: 127.0.0.1:%d\x00x\r\n\r\n", b"400"),
                (b"GET /?t=%s HTTP/1.1\r\n\r\n", b"400"),
                (b"GET /?t=%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n", b"200")]:
            raw = socket.create_connection(("127.0.0.1", port), timeout=10)
            raw.sendall(request.replace(b"%s", token.encode()).replace(b"%d", str(port).encode()))
            reply = raw.recv(64)
            raw.close()
            assert reply.startswith(b"HTTP/1.1 " + status), (request, reply)
        # Stuck clients hold no one else up: idle ones, and slow ones that
        # trickle a header a byte at a time; a request that has not arrived
        # whole within a few seconds is closed, however steadily it trickles.
        idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(10)]
        slow = [socket.create_connection(("127.0.0.1", port)) for _ in range(10)]
        opened = time.time()
        for s in slow:
            s.sendall(b"GET /?t=" + token.encode() + b" HTTP/1.1\r\n")
        for path in ("/?t=", "/image?t=", "/explain?x=1&y=1&t="):
            started = time.time()
            assert get(url, path + token)[0] in (200, 204)
            assert time.time() - started < 1, "a stuck client stalled a request for " + path
        closed = None
        while closed is None and time.time() - opened < 12:
            for s in slow:
                try:
                    s.sendall(b"X")
                except OSError:
                    closed = time.time() - opened
            time.sleep(0.3)
        assert closed is not None and closed < 10, "a trickling request was never closed"
        for s in idle + slow:
            s.close()
        # At most eight open pages; the ninth is told so, and a page that
        # closes gives its place back at once.
        def open_page():
            port = int(url.split(":")[2].split("/")[0])
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            c.request("GET", "/events?t=" + token)
            answer = c.getresponse()
            assert answer.status == 200, answer.status
            return answer  # holds the stream's socket
        streams = [open_page() for _ in range(8)]
        assert get(url, "/events?t=" + token)[0] == 503
        streams.pop().close()
        time.sleep(0.2)
        streams.append(open_page())
        assert get(url, "/events?t=" + token)[0] == 503
        for answer in streams:
            answer.close()
        assert sorted(os.listdir(folder)) == before, "the server wrote a file"
    finally:
        server.terminate()
        server.wait(10)
    assert server.returncode != 0
    # An address written short is printed as a browser will send it back.
    server, url = start(scene, "--listen", "127.1")
    try:
        assert get(url, "/?t=" + url.split("t=")[1])[0] == 200
    finally:
        server.terminate()
        server.wait(10)
    # On every address: any numeric Host, never a name a DNS could point here.
    server, url = start(scene, "--listen", "0.0.0.0")
    try:
        token, port = url.split("t=")[1], url.split(":")[2].split("/")[0]
        assert get(url, "/?t=" + token, host="192.0.2.7:" + port)[0] == 200
        assert get(url, "/?t=" + token, host="attacker.example:" + port)[0] == 403
    finally:
        server.terminate()
        server.wait(10)


def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        other = "/usr/bin/python3"
        if os.path.exists(other) and os.path.realpath(sys.executable) != os.path.realpath(other):
            os.execv(other, [other] + sys.argv)
        print("skipped: Selenium is not installed (Debian: python3-selenium)")
        sys.exit(77)
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    if not os.path.exists(driver_path) or not shutil.which("chromium"):
        print("skipped: Chromium or its driver is missing (Debian: chromium chromium-driver)")
        sys.exit(77)
    return webdriver, Service(driver_path)


def page_state(page):
    return page.execute_script(
        "return [document.body.dataset.phase || '', Number(document.body.dataset.round || 0),"
        " Number(document.getElementById('picture').dataset.picture || 0)]")


def canvas_rgb(page):
    rgba = page.execute_script(
        "const c = document.getElementById('picture');"
        "return Array.from(c.getContext('2d').getImageData(0, 0, c.width, c.height).data);")
    return bytes(v for i, v in enumerate(rgba) if i % 4 != 3)


def settled(page, after_round):
    """The round after `after_round` finished (or refused) and its picture drawn."""
    def done():
        phase, round_, _ = page_state(page)
        return round_ > after_round and phase in ("done", "refused") and phase
    phase = wait("render %d to finish" % (after_round + 1), done)
    time.sleep(0.3)  # the last picture's fetch
    return phase


def watch_pictures(page):
    """Fails on a picture number going backwards (an older picture drawn
    over a newer one)."""
    page.execute_script(
        "window.pictures = []; new MutationObserver(() => window.pictures.push("
        "Number(document.getElementById('picture').dataset.picture))).observe("
        "document.getElementById('picture'), {attributes: true});")


def browser_session(webdriver, service, folder, scene):
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1200,700"):
        options.add_argument(argument)
    downloads = os.path.join(folder, "downloads")
    os.mkdir(downloads)
    options.add_experimental_option("prefs", {"download.default_directory": downloads})
    server, url = start(scene)
    page = webdriver.Chrome(service=service, options=options)
    try:
        opened = time.time()
        page.get(url)
        page.execute_script(
            "window.phases = []; new MutationObserver(() => window.phases.push("
            "document.body.dataset.phase)).observe(document.body, {attributes: true});")
        wait("the first picture", lambda: page_state(page)[2] > 0)
        print("first picture %.2f s after the page opened" % (time.time() - opened))
        settled(page, 0)
        assert canvas_rgb(page) == reference(folder, scene_text("1 0 0")), "first render"
        watch_pictures(page)

        # Edited in place, then edited again mid-render: the newer scene wins.
        write(scene, scene_text("0 0 1"))
        saved = time.time()
        wait("the new render to start", lambda: page_state(page)[1] >= 2)
        print("render started %.2f s after the save" % (time.time() - saved))
        wait("the render to be under way", lambda: page_state(page)[0] in ("tracing", "smoothing"))
        write(scene, scene_text("0 1 0"))
        settled(page, 2)
        assert canvas_rgb(page) == reference(folder, scene_text("0 1 0")), "after two saves"
        numbers = page.execute_script("return window.pictures")
        assert numbers == sorted(numbers), "an older picture came back: %s" % numbers

        # Broken and renamed over: the error at its line, the last picture greyed.
        last = canvas_rgb(page)
        round_ = page_state(page)[1]
        write(scene, scene_text("1 1 0", broken=True), rename=True)
        assert settled(page, round_) == "refused"
        said = page.find_element("id", "diagnostics").text
        assert ":10:" in said, said
        assert page.find_element("id", "picture").get_attribute("class") == "refused"
        assert canvas_rgb(page) == last

        # Deleted, then back: rendered again.
        round_ = page_state(page)[1]
        os.unlink(scene)
        time.sleep(0.5)
        write(scene, scene_text("1 0 1"))
        assert settled(page, round_) == "done"
        expected = reference(folder, scene_text("1 0 1"))
        assert canvas_rgb(page) == expected, "after the scene came back"

        # A click explains the pixel and marks it on the picture; the
        # button saves the picture as PNG.
        canvas = page.find_element("id", "picture")
        webdriver.ActionChains(page).move_to_element_with_offset(canvas, 0, 0).click().perform()
        wait("the explanation", lambda: page.find_element("id", "explain").text.startswith("pixel"))
        marker = page.find_element("id", "marker")
        assert marker.value_of_css_property("display") == "block", "no marker on the picture"
        centre = (canvas.location["x"] + canvas.size["width"] / 2,
                  canvas.location["y"] + canvas.size["height"] / 2)
        spot = (marker.location["x"] + marker.size["width"] / 2,
                marker.location["y"] + marker.size["height"] / 2)
        assert abs(spot[0] - centre[0]) < 3 and abs(spot[1] - centre[1]) < 3, (spot, centre)
        if os.environ.get("FOTOLUME_SCREENSHOT"):
            page.save_screenshot(os.environ["FOTOLUME_SCREENSHOT"])
        page.find_element("id", "save").click()
        saved_png = os.path.join(downloads, "fotolume.png")
        wait("the saved PNG", lambda: os.path.exists(saved_png))
        time.sleep(0.3)
        if shutil.which("pngtopnm"):
            ppm = subprocess.run(["pngtopnm", saved_png], check=True, capture_output=True).stdout
            assert ppm[-len(expected):] == expected, "the saved PNG"

        # A newer render makes the explanation stale and takes its marker.
        round_ = page_state(page)[1]
        write(scene, scene_text("1 0 1") + "\n")
        settled(page, round_)
        assert page.find_element("id", "explain").get_attribute("class") == "stale"
        assert "has changed since" in page.find_element("id", "explain").text
        assert marker.value_of_css_property("display") == "none"

        # The page asks for another size and samples: the next render has them.
        round_ = page_state(page)[1]
        for field, value in (("width", "120"), ("height", "90"), ("samples", "2")):
            box = page.find_element("id", field)
            box.clear()
            box.send_keys(value)
        page.find_element("id", "apply").click()
        settled(page, round_)
        assert page.execute_script("return [state.width, state.height, state.samples]") == \
            [120, 90, 2]
        assert canvas_rgb(page) == reference(folder, scene_text("1 0 1"), (120, 90), "2"), \
            "after the page asked for another size"

        # The phases of a render are seen as they pass, reading and building
        # with how far they have got.
        phases = page.execute_script("return window.phases")
        for phase in ("reading", "building", "coarse", "tracing", "smoothing", "done"):
            assert phase in phases, (phase, phases)

        # A closed page gives its event stream back at once; a page told
        # that too many are open tries again, and connects once one closes.
        page.get("about:blank")
        token, port = url.split("t=")[1], int(url.split(":")[2].split("/")[0])
        held = []
        for _ in range(8):
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            c.request("GET", "/events?t=" + token)
            answer = c.getresponse()
            assert answer.status == 200, "a closed page's place was not given back"
            held.append(answer)
        page.get(url)
        wait("the refused page", lambda: page_state(page)[0] == "disconnected", 30)
        held.pop().close()
        wait("the page to connect again", lambda: page_state(page)[0] == "done", 30)
        for answer in held:
            answer.close()
    finally:
        page.quit()
        server.terminate()
        server.wait(10)


def main():
    with tempfile.TemporaryDirectory() as folder:
        scene = os.path.join(folder, "scene.txt")
        write(scene, scene_text("1 0 0"))
        if MODE == "refusals":
            refusals(folder, scene)
        else:
            webdriver, service = browser()
            browser_session(webdriver, service, folder, scene)
    print("ok")


if __name__ == "__main__":
    main()
