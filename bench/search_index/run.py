#!/usr/bin/env python3
"""Search index benchmark beside notmuch on the same messages.

usage: run.py BENCH_BINARY [COUNT ...]   (default counts: 20000 100000)
       BX_BENCH_CHECK=1 also checks that the threaded build writes the
       same index.json as one thread does.

For each count: generates a vault (and the same files as a Maildir), builds
the index, saves and loads index.json, runs the 1,000 prefix queries; times
Python's json.load of the same index.json; then runs `notmuch new` on the
Maildir and `notmuch search` for the same queries (prefixes as word*).
Work files go to a private folder under $TMPDIR and are removed afterwards.
"""
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def kv(text):
    out = {}
    for line in text.splitlines():
        k, _, v = line.partition(" ")
        out[k] = v
    return out


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw).stdout


def child_peak_mb():
    return resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p * len(values)))]


OPERATORS = {"and", "or", "not", "xor", "near", "adj"}


def notmuch_query(q):
    # Xapian reads these words as operators even with a wildcard; they go
    # in quotes, as exact words.
    return " and ".join(f'"{w}"' if w.lower() in OPERATORS else w.lower() + "*" for w in q.split())


def bench(binary, count, work):
    d = os.path.join(work, f"n{count}")
    os.makedirs(d)
    run([binary, "gen", d, str(count)])
    r = {}
    r.update(kv(run([binary, "build", d] + (["--check"] if os.environ.get("BX_BENCH_CHECK") else []))))
    r.update(kv(run([binary, "load", d])))
    r.update(kv(run([binary, "query", d])))

    index_json = os.path.join(d, "index.json")
    py = run([sys.executable, "-c",
              "import json,sys,time\n"
              "t=time.perf_counter()\n"
              "with open(sys.argv[1],'rb') as f: json.load(f)\n"
              "print(time.perf_counter()-t)", index_json])
    r["python_json_load_s"] = f"{float(py):.3f}"

    if shutil.which("notmuch"):
        cfg = os.path.join(d, "notmuch-config")
        with open(cfg, "w") as f:
            f.write(f"[database]\npath={os.path.join(d, 'maildir')}\n"
                    "[user]\nname=Bench\nprimary_email=ann@example.org\n"
                    "[new]\ntags=inbox;\nignore=\n[search]\nexclude_tags=\n"
                    "[maildir]\nsynchronize_flags=false\n")
        env = dict(os.environ, NOTMUCH_CONFIG=cfg)
        before = child_peak_mb()
        t = time.perf_counter()
        run(["notmuch", "new", "--quiet"], env=env)
        elapsed = time.perf_counter() - t
        r["notmuch_new_s"] = f"{elapsed:.3f}"
        r["ratio_build_to_notmuch"] = f"{float(r['build_s']) / elapsed:.3f}"
        r["notmuch_new_msgs_per_s"] = f"{count / elapsed:.0f}"
        r["notmuch_peak_rss_mb"] = f"{max(before, child_peak_mb()):.0f}"
        xapian = os.path.join(d, "maildir", ".notmuch", "xapian")
        r["notmuch_db_mb"] = f"{sum(os.path.getsize(os.path.join(xapian, f)) for f in os.listdir(xapian)) / 1e6:.1f}"

        with open(os.path.join(d, "queries.txt")) as f:
            queries = [q.strip() for q in f if q.strip()]
        # Process start and database open, without a search.
        start = []
        for _ in range(20):
            t = time.perf_counter()
            run(["notmuch", "count", "id:nonexistent@nowhere"], env=env)
            start.append((time.perf_counter() - t) * 1e3)
        times = []
        for q in queries:
            t = time.perf_counter()
            run(["notmuch", "search", "--output=messages", "--sort=newest-first", notmuch_query(q)], env=env)
            times.append((time.perf_counter() - t) * 1e3)
        r["notmuch_startup_ms"] = f"{statistics.median(start):.1f}"
        r["notmuch_search_p50_ms"] = f"{pct(times, 0.5):.1f}"
        r["notmuch_search_p99_ms"] = f"{pct(times, 0.99):.1f}"
    r["load_average"] = " ".join(open("/proc/loadavg").read().split()[:3]).replace(" ", "/")
    shutil.rmtree(d)
    return r


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    counts = [int(c) for c in sys.argv[2:]] or [20000, 100000]
    work = tempfile.mkdtemp(prefix="bx-bench-index-")
    try:
        results = {c: bench(binary, c, work) for c in counts}
    finally:
        shutil.rmtree(work, ignore_errors=True)
    keys = []
    for r in results.values():
        keys += [k for k in r if k not in keys]
    print(f"{'measure':28}" + "".join(f"{c:>14}" for c in counts))
    for k in keys:
        print(f"{k:28}" + "".join(f"{results[c].get(k, ''):>14}" for c in counts))
    return 0


if __name__ == "__main__":
    sys.exit(main())
