#!/usr/bin/env bash
# vokid on a damaged index: 1,000 seeded damage trials (TRIALS to change
# it) on an index of 4 generated tracks, each run through list, stats,
# identify, duplicates, check and a command that writes; how many runs gave
# the undamaged answer, how many the damage message, and that none crashed
# or hung (vokid_damage_trials.py says how).
# Usage: vokid_damage_bench.sh VOKID AUDIO WORKDIR
set -euo pipefail
vokid=$1 audio=$2 work=$3
trials=${TRIALS:-1000}
if ! command -v python3 >/dev/null; then
  echo "vokid damage trials skipped: they need python3"
  exit 0
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
rm -rf "$work/index"
for i in 1 2 3 4; do
  "$audio" recording "$work/track-$i.wav" $((900 + i)) 20 11025 1
done
# The clip: seconds 5 to 15 of track 2 (16-bit mono, 44-byte header).
head -c $((44 + 15 * 11025 * 2)) "$work/track-2.wav" | tail -c $((10 * 11025 * 2)) > "$work/clip.pcm"
ffmpeg -nostdin -hide_banner -loglevel error -y -f s16le -ar 11025 -ac 1 -i "$work/clip.pcm" \
  "$work/clip.wav"
"$vokid" add "$work/index" "$work"/track-?.wav >/dev/null
echo "vokid damage trials ($trials):"
python3 "$(dirname "$0")/vokid_damage_trials.py" "$vokid" "$work/index" "$work/clip.wav" \
  "$work/track-1.wav" "$trials"
