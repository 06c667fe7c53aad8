#!/usr/bin/env python3
"""Runs the real application under Xvfb: the demo recording and the
screenshot script (light and dark, over the made-up vault and an empty one),
and checks what they leave behind."""
import json, os, shutil, signal, subprocess, sys, tempfile, time

APP = sys.argv[1]
failures = []


def check(ok, what):
    print(("PASS " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def base_env(root):
    env = {k: v for k, v in os.environ.items() if not k.startswith("BRINDLEBOX_")}
    env.update(HOME=os.path.join(root, "home"), XDG_CONFIG_HOME=os.path.join(root, "config"),
               XDG_DATA_HOME=os.path.join(root, "data"), TZ="UTC", LC_ALL="C.UTF-8",
               QTWEBENGINE_DISABLE_SANDBOX="1", BRINDLEBOX_CREDENTIALS_FILE=os.path.join(root, "pw.json"))
    env.pop("QT_QPA_PLATFORM", None)
    for d in ("home", "config", "data"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    return env


def xvfb(cmd):
    return ["xvfb-run", "-a", "-s", "-screen 0 1920x1200x24"] + cmd


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def demo_run(root):
    out = os.path.join(root, "demo-out")
    env = base_env(root)
    env["BRINDLEBOX_DEMO_DIR"] = out
    started = time.time()
    p = subprocess.run(xvfb([APP]), env=env, capture_output=True, text=True, timeout=300)
    elapsed = time.time() - started
    check(p.returncode == 0, "demo exits 0 (got %d)" % p.returncode)
    line = next((l for l in p.stdout.splitlines() if l.startswith("demo window ")), "")
    check(line.startswith("demo window (160.0, 100.0, 1600.0, 1000.0) visible "), "demo window line: " + line)
    missing = [l for l in p.stdout.splitlines() if "no anchor" in l]
    check(not missing, "every anchor the script aims at is on screen: %s" % missing)
    files = sorted(os.listdir(out)) if os.path.isdir(out) else []
    check(files == ["captions.json", "events.json", "project.json", "raw.mov"], "four files: %s" % files)
    if "captions.json" in files:
        caps = [c["text"] for c in json.load(open(os.path.join(out, "captions.json")))]
        check(caps == ["Fifteen years of mail, one vault", "Every copy verified, byte for byte",
                       "Trackers and look-alikes, caught", "Free space only after verifying",
                       "Your mail, kept on this computer"], "five captions in order: %s" % caps)
    if "raw.mov" in files:
        probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                                "stream=codec_name,width,height,nb_read_frames,time_base", "-show_entries",
                                "format=duration", "-of", "json", os.path.join(out, "raw.mov")],
                               capture_output=True, text=True)
        info = json.loads(probe.stdout or "{}")
        s = (info.get("streams") or [{}])[0]
        check((s.get("codec_name"), s.get("width"), s.get("height")) == ("h264", 1600, 1000),
              "movie h264 1600 x 1000: %s" % s)
        dur = float(info.get("format", {}).get("duration", 0))
        frames = int(s.get("nb_read_frames", 0))
        print("BENCH demo frames written %d over %.2f s of movie (%.0f expected at 30 fps), process %.1f s" %
              (frames, dur, dur * 30, elapsed), flush=True)
        # The release's success toast, over the dimmed window while the sheet
        # is still up and on its own once the sheet has closed.
        closing = [c for c in json.load(open(os.path.join(out, "captions.json")))
                   if c["text"].startswith("Your mail")] if "captions.json" in files else []
        if closing:
            start = closing[0]["start"]
            bars = [toast_bar(os.path.join(out, "raw.mov"), 1600, 1000, 96, "light", at, dimmed=True)
                    for at in (start - 0.5, start + 0.6)]
            check(max(bars) >= 24, "a movie frame shows the release's toast (accent bars %s px)" % bars)
    for l in p.stderr.splitlines():
        if l.startswith("demo frames"):
            print("BENCH " + l, flush=True)
    if failures:
        sys.stdout.write(p.stdout[-3000:])
        sys.stdout.write(p.stderr[-3000:])


WELCOME = ["00-welcome-1", "00-welcome-2", "00-welcome-3", "00-welcome-4"]
SETTINGS = ["13-settings-general", "13-settings-accounts", "13-settings-about"]
EXPECTED = {
    "empty": WELCOME + ["01-empty-vault", "02-empty-vault-toast"] + SETTINGS,
    "demo": WELCOME + ["01-no-selection", "1-reader-newsletter", "2-spine-scrub-hover", "3-reader-suspicious",
                       "4-shelf-attachments", "4b-shelf-empty", "5-search", "5b-search-empty", "6-folder",
                       "7-plain-toast", "8-sidebar-progress", "9-ledger-running", "9a-sidebar-problem",
                       "9b-ledger-problem", "10-add-account", "11-add-account-icloud-error",
                       "11b-add-account-folders", "12a-free-up-choose", "12b-free-up-verifying",
                       "12c-free-up-verified", "12d-free-up-release", "12e-free-up-releasing", "12f-free-up-done",
                       "14-minimum-window"] + SETTINGS,
}


SEAL = {"light": (0x23, 0x87, 0x7B), "dark": (0x45, 0xC2, 0xB1)}
CAUTION = {"light": (0xA8, 0x6A, 0x12), "dark": (0xE2, 0xAE, 0x55)}


def rgb_crop(source, x, y, w, h, at=None):
    """Pixels of a crop of a PNG, or of a movie's frame at `at` seconds, as
    rows of (r, g, b)."""
    cmd = ["ffmpeg", "-v", "error"] + (["-ss", "%.3f" % at] if at is not None else []) + [
        "-i", source, "-frames:v", "1", "-vf", "crop=%d:%d:%d:%d" % (w, h, x, y), "-f", "rawvideo",
        "-pix_fmt", "rgb24", "-"]
    raw = subprocess.run(cmd, capture_output=True).stdout
    px = [tuple(raw[i:i + 3]) for i in range(0, len(raw) - 2, 3)]
    return [px[r * w:(r + 1) * w] for r in range(len(px) // w)] if len(px) >= w else []


def near(p, colours, tolerance):
    return any(all(abs(a - b) <= tolerance for a, b in zip(p, c)) for c in colours)


def longest_run(rows, colours, tolerance):
    """The longest vertical run of pixels near one of the colours, in any
    column: a toast's accent bar, not a few stray pixels of an icon."""
    best = 0
    for x in range(len(rows[0]) if rows else 0):
        run = 0
        for row in rows:
            run = run + 1 if near(row[x], colours, tolerance) else 0
            best = max(best, run)
    return best


def count_near(rows, colours, tolerance):
    return sum(1 for row in rows for p in row if near(p, colours, tolerance))


def toast_bar(source, width, height, bottom_gap, appearance, at=None, dimmed=False):
    """Height of the tallest seal-coloured bar in the band where a toast
    settles, over the reader's side of the window."""
    seal = SEAL[appearance]
    colours = [seal] + ([tuple(int(c * 0.82) for c in seal)] if dimmed else [])
    band = 90
    rows = rgb_crop(source, int(width * 0.35), height - bottom_gap - band, int(width * 0.65), band, at)
    return longest_run(rows, colours, 36)


def reader_area_varied(path):
    # The reader is the right part of the window: many colours there mean
    # the message's content was drawn.
    w, h = png_size(path)
    x, y, cw, ch = int(w * 0.62), int(h * 0.3), int(w * 0.33), int(h * 0.6)
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-vf", "crop=%d:%d:%d:%d" % (cw, ch, x, y),
                          "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], capture_output=True).stdout
    colours = {raw[i:i + 3] for i in range(0, len(raw) - 2, 3 * 7)}
    return len(colours) > 8


def shots_run(root, vault, appearance):
    out = os.path.join(root, "shots-%s-%s" % (vault, appearance))
    env = base_env(os.path.join(root, "%s-%s" % (vault, appearance)))
    env["BRINDLEBOX_SNAPSHOT_DIR"] = out
    env["BRINDLEBOX_SNAPSHOT_APPEARANCE"] = appearance
    if vault == "demo":
        env["BRINDLEBOX_SNAPSHOT_DEMO"] = ""
    else:
        empty = os.path.join(root, "empty-vault-" + appearance)
        os.makedirs(empty, exist_ok=True)
        env["BRINDLEBOX_ARCHIVE_DIR"] = empty
    p = subprocess.run(xvfb([APP]), env=env, capture_output=True, text=True, timeout=400)
    prefix = "dark-" if appearance == "dark" else ""
    want = sorted(prefix + n + ".png" for n in EXPECTED[vault])
    got = sorted(os.listdir(out)) if os.path.isdir(out) else []
    check(p.returncode == 0, "%s %s exits 0 (got %d)" % (vault, appearance, p.returncode))
    check(got == want, "%s %s files; missing %s, extra %s" %
          (vault, appearance, sorted(set(want) - set(got)), sorted(set(got) - set(want))))
    if vault == "demo":
        mini = os.path.join(out, prefix + "14-minimum-window.png")
        if os.path.exists(mini):
            check(png_size(mini)[0] >= 1100 and png_size(mini)[1] >= 620 and png_size(mini)[0] < 1360,
                  "minimum window size %s" % (png_size(mini),))
        main = os.path.join(out, prefix + "01-no-selection.png")
        if os.path.exists(main):
            check(png_size(main)[0] >= 1360 and png_size(main)[1] >= 840, "main window size %s" % (png_size(main),))
        toast = os.path.join(out, prefix + "7-plain-toast.png")
        if os.path.exists(toast):
            w, h = png_size(toast)
            bar = toast_bar(toast, w, h, 10, appearance)
            check(bar >= 24, "%s shows the toast over the reader (accent bar %d px)" % (os.path.basename(toast), bar))
        problem = os.path.join(out, prefix + "9a-sidebar-problem.png")
        calm = os.path.join(out, prefix + "8-sidebar-progress.png")
        if os.path.exists(problem) and os.path.exists(calm):
            # The right half of the sidebar above the backup strip at its foot,
            # where the account rows end (the shelves' caution icon sits left).
            def badge(path):
                w, h = png_size(path)
                return count_near(rgb_crop(path, int(w * 0.1), 0, int(w * 0.1), int(h * 0.75)),
                                  [CAUTION[appearance]], 30)
            got, before = badge(problem), badge(calm)
            check(got >= 10 and before < 3,
                  "9a shows the account's caution badge (%d caution pixels, %d before the problem)" % (got, before))
        news = os.path.join(out, prefix + "1-reader-newsletter.png")
        if os.path.exists(news):
            check(reader_area_varied(news), "reader area not blank in " + os.path.basename(news))
    if failures:
        sys.stdout.write(p.stderr[-2000:])


def keep_run(root):
    out = os.path.join(root, "shots-keep")
    env = base_env(os.path.join(root, "keep"))
    env["BRINDLEBOX_SNAPSHOT_DIR"] = out
    env["BRINDLEBOX_SNAPSHOT_KEEP"] = ""
    empty = os.path.join(root, "empty-vault-keep")
    os.makedirs(empty, exist_ok=True)
    env["BRINDLEBOX_ARCHIVE_DIR"] = empty
    p = subprocess.Popen(xvfb([APP]), env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    last = os.path.join(out, "13-settings-about.png")
    deadline = time.time() + 200
    while time.time() < deadline and not os.path.exists(last) and p.poll() is None:
        time.sleep(0.5)
    time.sleep(5)
    check(os.path.exists(last) and p.poll() is None, "BRINDLEBOX_SNAPSHOT_KEEP keeps the app running")
    if p.poll() is None:
        os.killpg(p.pid, signal.SIGTERM)
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)


def main():
    root = tempfile.mkdtemp(prefix="bx-harness-")
    which = os.environ.get("BX_HARNESS_ONLY", "demo,shots,keep").split(",")
    try:
        if "demo" in which:
            demo_run(root)
        if "shots" in which:
            for vault in ("demo", "empty"):
                for appearance in ("light", "dark"):
                    shots_run(root, vault, appearance)
        if "keep" in which:
            keep_run(root)
    finally:
        if os.environ.get("BX_HARNESS_KEEP_OUTPUT"):
            print("output kept in " + root)
        else:
            shutil.rmtree(root, ignore_errors=True)
    sys.exit(1 if failures else 0)


main()
