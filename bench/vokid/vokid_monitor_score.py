#!/usr/bin/python3
"""Scores monitor's segments against the mix's truth.

Reads the truth (vokid_monitor_mix.py) and the lines monitor printed, each
prefixed by the wall-clock second it arrived; the writer fed the mix at
PACE times real time, and each segment's end_time tells when the audio of
its end arrived. Prints:
  - the share of the indexed tracks' played seconds that a segment of the
    right track covers, and the seconds attributed to a wrong track;
  - the segments over unindexed recordings, speech and silence (more than
    half of the segment there): must be 0;
  - the latency from a play's end to its line, in audio seconds and in
    wall seconds, median and largest.

usage: vokid_monitor_score.py TRUTH LINES PACE
"""
import datetime
import json
import os
import statistics
import sys

truth = []
for line in open(sys.argv[1]):
    start, end, kind, path, speed, tempo = line.rstrip("\n").split("\t")
    # Files are known by their names: the index may hold them by another path.
    truth.append((float(start), float(end), kind, os.path.basename(path)))
pace = float(sys.argv[3])


def wall_of(text):
    moment = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ")
    return moment.replace(tzinfo=datetime.timezone.utc).timestamp()


segments = []
for line in open(sys.argv[2]):
    wall, text = line.split(" ", 1)
    segment = json.loads(text)
    segment["wall"] = float(wall)
    segment["path"] = os.path.basename(segment["path"])
    segments.append(segment)


def overlap(a0, a1, b0, b1):
    return max(0.0, min(a1, b1) - max(a0, b0))


played = right = wrong = 0.0
for start, end, kind, path in truth:
    if kind != "track":
        continue
    played += end - start
    for s in segments:
        shared = overlap(start, end, s["start"], s["end"])
        if s["path"] == path:
            right += shared
        else:
            wrong += shared
false_segments = 0
for s in segments:
    there = sum(overlap(a, b, s["start"], s["end"]) for a, b, kind, _ in truth if kind != "track")
    if there > (s["end"] - s["start"]) / 2:
        false_segments += 1
audio_latency, wall_latency = [], []
for s in segments:
    # The play's true end: the end of the indexed part the segment ends in.
    ends = [b for a, b, kind, path in truth if kind == "track" and path == s["path"] and a < s["end"] <= b + 2]
    if not ends:
        continue
    # When the play's true end arrived: the segment's end's arrival, moved
    # by the difference at the pace the audio came.
    arrived = wall_of(s["end_time"]) + (ends[0] - s["end"]) / pace
    wall_latency.append(s["wall"] - arrived)
    audio_latency.append((s["wall"] - arrived) * pace)
print("segments: %d; indexed plays: %d, %.0f s" % (len(segments), sum(1 for t in truth if t[2] == "track"), played))
print("played seconds attributed to the right track: %.1f%%; to a wrong track: %.0f s" % (100 * right / played, wrong))
print("segments over unindexed recordings, speech or silence: %d" % false_segments)
if audio_latency:
    print("latency from a play's end to its line: audio time median %.1f s, largest %.1f s; "
          "wall time median %.2f s, largest %.2f s"
          % (statistics.median(audio_latency), max(audio_latency),
             statistics.median(wall_latency), max(wall_latency)))
