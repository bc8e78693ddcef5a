#!/usr/bin/env python3
"""Seeded damage trials on a vokid index, for the benchmarks.

Usage: vokid_damage_trials.py VOKID INDEX CLIP TRACK TRIALS

Each trial damages a copy of INDEX's data file (or its header file) in one
of these ways, chosen by the trial's seed: a flipped bit in a page of each
kind (meta, branch, leaf, leaf of fixed-size duplicates, overflow, a page
inside an overflow run), in its first 64 bytes or anywhere in it; a page
zeroed; two pages swapped; the file cut short; the file extended; a flipped
bit in the header file past its magic. Then it runs list, stats, identify
(of CLIP), duplicates and check, and remove (track 3) or add (of TRACK, as
it is already indexed) on a fresh copy of the damaged index each, with a
timeout. A run gives the undamaged answer (the same exit code and output;
for stats, the same figures of the content), or the damage message (exit
1, one line naming the folder and "index is damaged"); anything else is a
wrong answer, and a signal or a timeout a crash or a hang.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
from concurrent.futures import ThreadPoolExecutor
from collections import Counter

PAGE = 4096
TIMEOUT = 60


def page_kinds(data):
    kinds = {}
    for page in range(len(data) // PAGE):
        at = page * PAGE
        number = int.from_bytes(data[at:at + 8], "little")
        flags = int.from_bytes(data[at + 10:at + 12], "little")
        if number != page:
            kind = "inside an overflow run"
        elif flags & 0x08:
            kind = "meta"
        elif flags & 0x01:
            kind = "branch"
        elif flags & 0x04:
            kind = "overflow"
        elif flags & 0x20:
            kind = "fixed-size duplicates"
        elif flags & 0x02:
            kind = "leaf"
        else:
            kind = "other"
        kinds.setdefault(kind, []).append(page)
    return kinds


def flip(buffer, start, length, rng):
    buffer[start + rng.randrange(length)] ^= 1 << rng.randrange(8)


def damages(kinds):
    table = []
    for kind, pages in sorted(kinds.items()):
        table.append(("a page header (%s)" % kind,
                      lambda d, h, r, p=pages: flip(d, r.choice(p) * PAGE, 64, r)))
        table.append(("a page (%s)" % kind,
                      lambda d, h, r, p=pages: flip(d, r.choice(p) * PAGE, PAGE, r)))

    def zero(d, h, r):
        at = r.randrange(len(d) // PAGE) * PAGE
        d[at:at + PAGE] = bytes(PAGE)

    def swap(d, h, r):
        a = r.randrange(len(d) // PAGE) * PAGE
        b = r.randrange(len(d) // PAGE) * PAGE
        d[a:a + PAGE], d[b:b + PAGE] = d[b:b + PAGE], d[a:a + PAGE]

    def cut(d, h, r):
        del d[r.randrange(len(d)):]

    def extend(d, h, r):
        d.extend(r.randrange(256) if r.randrange(4) == 0 else 0
                 for _ in range(1 + r.randrange(3 * PAGE)))

    table += [("the header file", lambda d, h, r: flip(h, 8, len(h) - 8, r)),
              ("a page zeroed", zero), ("two pages swapped", swap),
              ("cut short", cut), ("extended", extend)]
    return table


def content_figures(out):
    try:
        stats = json.loads(out)
    except ValueError:
        return out
    keys = ("tracks", "hours", "sub_fingerprints", "postings", "step",
            "posting_bytes", "sequence_bytes")
    return " ".join(str(stats.get(key)) for key in keys)


def commands(clip, track, writer):
    same = lambda out: out
    listed = [("list", lambda db: ["list", db], same),
              ("stats", lambda db: ["stats", "--json", db], content_figures),
              ("identify", lambda db: ["identify", "--as-played", db, clip], same),
              ("duplicates", lambda db: ["duplicates", "-j", "1", db], same),
              ("check", lambda db: ["check", db], same)]
    if writer:
        listed.append(("remove", lambda db: ["remove", db, "3"], same))
    else:
        listed.append(("add", lambda db: ["add", db, track], same))
    return listed


def run(vokid, args):
    try:
        done = subprocess.run([vokid] + args, capture_output=True, timeout=TIMEOUT,
                              text=True, errors="replace")
    except subprocess.TimeoutExpired:
        return "hang", "", ""
    return done.returncode, done.stdout, done.stderr


def fresh(work, source, data, header):
    db = os.path.join(work, "trial-%d" % threading.get_ident())
    shutil.rmtree(db, ignore_errors=True)
    os.mkdir(db)
    shutil.copyfile(os.path.join(source, "lock.mdb"), os.path.join(db, "lock.mdb"))
    with open(os.path.join(db, "data.mdb"), "wb") as out:
        out.write(data)
    with open(os.path.join(db, "vokid-index"), "wb") as out:
        out.write(header)
    return db


def outcome(result, undamaged, answer, db):
    code, out, err = result
    if code == "hang":
        return "hang"
    if code < 0:
        return "signal"
    if (code, answer(out)) == undamaged:
        return "undamaged answer"
    line = "vokid: %s: the index is damaged: " % db
    if code == 1 and err.startswith(line) and err.count("\n") == 1 and err.endswith("\n"):
        return "damage message"
    return "wrong answer"


def main():
    vokid, index, clip, track, trials = sys.argv[1:6]
    with open(os.path.join(index, "data.mdb"), "rb") as f:
        data = f.read()
    with open(os.path.join(index, "vokid-index"), "rb") as f:
        header = f.read()
    table = damages(page_kinds(data))
    work = tempfile.mkdtemp(prefix="vokid-damage-")
    undamaged = {}
    for writer in (False, True):
        for name, args, answer in commands(clip, track, writer):
            db = fresh(work, index, data, header)
            code, out, err = run(vokid, args(db))
            undamaged[name] = (code, answer(out))
    tally, by_kind, wrong = Counter(), Counter(), []

    def trial(seed):
        kind, apply = table[seed % len(table)]
        rng = random.Random(seed)
        damaged_data, damaged_header = bytearray(data), bytearray(header)
        apply(damaged_data, damaged_header, rng)
        results = []
        for name, args, answer in commands(clip, track, seed % 2 == 1):
            db = fresh(work, index, damaged_data, damaged_header)
            results.append((name, outcome(run(vokid, args(db)), undamaged[name], answer, db)))
        return seed, kind, results

    # Trials side by side, a core each.
    with ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
        for seed, kind, results in pool.map(trial, range(int(trials))):
            for name, result in results:
                tally[result] += 1
                by_kind[(kind, result)] += 1
                if result not in ("undamaged answer", "damage message"):
                    wrong.append("seed %d, %s, %s: %s" % (seed, kind, name, result))
    shutil.rmtree(work, ignore_errors=True)
    runs = sum(tally.values())
    print("damage trials: %s, %d runs of vokid" % (trials, runs))
    for result in ("undamaged answer", "damage message", "wrong answer", "signal", "hang"):
        print("  %-17s %5d" % (result, tally[result]))
    print("by kind of damage (undamaged answer / damage message / other):")
    for kind, _ in table:
        print("  %-40s %4d %4d %4d" % (kind, by_kind[(kind, "undamaged answer")],
                                       by_kind[(kind, "damage message")],
                                       sum(by_kind[(kind, r)] for r in
                                           ("wrong answer", "signal", "hang"))))
    for line in wrong[:20]:
        print("  " + line)
    print("none crashed or hung" if tally["signal"] + tally["hang"] == 0
          else "CRASHES OR HANGS: %d" % (tally["signal"] + tally["hang"]))


if __name__ == "__main__":
    main()
