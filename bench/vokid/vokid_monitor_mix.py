#!/usr/bin/python3
"""Plans a long mix for the monitor benchmark, as a radio log: indexed
tracks (excerpts of 40 to 150 s, some played 1 or 2% fast or slow, some with
their tempo 3% faster or slower, the pitch kept) with silence, speech and
unindexed recordings between them. Writes the sox commands that make it
(one 22050-Hz mono WAVE file) and the truth: a line per part, its start
and end in the mix, its kind, its file and its speed and tempo.

usage: vokid_monitor_mix.py LIBRARY OTHERS SECONDS SEED OUT_FOLDER
       vokid_monitor_mix.py --retime OUT_FOLDER
The second form, once the parts are made, sets the truth's times to the
parts' own lengths (sox's effects round them).
"""
import glob
import os
import random
import subprocess
import sys

if sys.argv[1] == "--retime":
    out = sys.argv[2]
    lines = open(os.path.join(out, "truth.tsv")).read().split("\n")[:-1]
    at = 0.0
    retimed = []
    for n, line in enumerate(lines):
        fields = line.split("\t")
        name = os.path.join(out, "part-%05d.wav" % n)
        seconds = float(subprocess.check_output(["soxi", "-D", name]).decode())
        fields[0], fields[1] = "%.3f" % at, "%.3f" % (at + seconds)
        at += seconds
        retimed.append("\t".join(fields))
    open(os.path.join(out, "truth.tsv"), "w").write("\n".join(retimed) + "\n")
    sys.exit(0)
library, others, total, seed, out = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
rng = random.Random(seed)
tracks = sorted(glob.glob(os.path.join(library, "music-*.mp3")))
unknown = sorted(glob.glob(os.path.join(others, "unknown-*.wav")) +
                 glob.glob(os.path.join(others, "voice-*.wav")))


def duration(path):
    return float(subprocess.check_output(
        ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path]).decode())


lengths = {}
commands = []
truth = []
at = 0.0
n = 0
speech = os.path.join(out, "speech.wav")
subprocess.check_call(["espeak-ng", "-w", os.path.join(out, "speech-raw.wav"),
                       "And now the news, the weather and the traffic for the whole region."])
subprocess.check_call(["sox", os.path.join(out, "speech-raw.wav"), "-r", "22050", "-c", "1",
                       "-b", "16", speech])


def part(kind, path, seconds, command, speed=1.0, tempo=1.0):
    global at, n
    name = os.path.join(out, "part-%05d.wav" % n)
    commands.append(command.replace("OUT", name))
    truth.append("%.3f\t%.3f\t%s\t%s\t%g\t%g" % (at, at + seconds, kind, path, speed, tempo))
    at += seconds
    n += 1


while at < total:
    track = rng.choice(tracks)
    if track not in lengths:
        lengths[track] = duration(track)
    seconds = min(rng.uniform(40, 150), lengths[track] - 1)
    start = rng.uniform(0, lengths[track] - seconds)
    roll = rng.random()
    speed = tempo = 1.0
    if roll < 0.15:
        speed = rng.choice([0.98, 1.02])
    elif roll < 0.25:
        speed = rng.choice([0.99, 1.01])
    elif roll < 0.40:
        tempo = rng.choice([0.97, 1.03])
    effect = ""
    if speed != 1:
        effect = " speed %g" % speed
    elif tempo != 1:
        effect = " tempo -m %g" % tempo
    part("track", track, seconds / speed / tempo,
         "ffmpeg -nostdin -v error -ss %.3f -t %.3f -i '%s' -ac 1 -ar 22050 -f wav - | "
         "sox -V1 -t wav - -b 16 OUT%s rate 22050" % (start, seconds, track, effect),
         speed, tempo)
    roll = rng.random()
    if roll < 0.5:
        gap = rng.uniform(1, 4)
        part("silence", "-", gap, "sox -n -r 22050 -c 1 -b 16 OUT trim 0 %.3f" % gap)
    elif roll < 0.8:
        gap = rng.uniform(3, 6)
        part("speech", "-", gap, "sox '%s' OUT pad 0 %.3f trim 0 %.3f" % (speech, gap + 1, gap))
    else:
        other = rng.choice(unknown)
        gap = min(rng.uniform(20, 40), duration(other))
        part("unindexed", other, gap,
             "sox '%s' -r 22050 -c 1 -b 16 OUT trim 0 %.3f" % (other, gap))

with open(os.path.join(out, "make.sh"), "w") as script:
    script.write("set -e\n" + "\n".join(commands) + "\n")
with open(os.path.join(out, "truth.tsv"), "w") as listing:
    listing.write("\n".join(truth) + "\n")
