#!/usr/bin/env bash
# Regenerates data/sample.wav, the sample that `make run` fingerprints:
# about 22 seconds of 44.1 kHz stereo 16-bit audio, a spoken text by
# espeak-ng over a synthesised melody with chords (sox). Everything is made
# here from scratch; the output is the same on every run with the same
# versions of sox and espeak-ng (no dither, no random noise).
set -euo pipefail
cd "$(dirname "$0")"
command -v sox >/dev/null && command -v espeak-ng >/dev/null || {
  echo "needs sox and espeak-ng (apt-get install sox espeak-ng)" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rate=44100
bar=2.75   # seconds per chord
beat=0.6875 # four melody notes per chord

# Eight bars: C, A minor, F, G, twice; a melody note on every beat.
chords=("C3 E3 G3" "A2 C3 E3" "F2 A2 C3" "G2 B2 D3"
        "C3 E3 G3" "A2 C3 E3" "F2 A2 C3" "G2 B2 D3")
melody=("E5 G5 C6 G5" "E5 A5 C6 A5" "F5 A5 C6 F5" "D5 G5 B5 G5"
        "C6 B5 G5 E5" "A5 C6 E5 A5" "F5 E5 D5 C5" "B4 D5 G5 C6")

bars=()
for i in "${!chords[@]}"; do
  # The chord: three plucked strings mixed to one channel, fading out.
  set -- ${chords[$i]}
  sox -R -D -n -r $rate -c 1 "$work/chord$i.wav" synth $bar pluck "$1" pluck "$2" pluck "$3" \
    channels 3 remix 1,2,3 gain -n -9 fade t 0 $bar 0.3
  # The melody: four soft triangle notes with short fades.
  notes=()
  j=0
  for note in ${melody[$i]}; do
    sox -R -D -n -r $rate -c 1 "$work/note$i-$j.wav" synth $beat triangle "$note" \
      gain -n -14 fade t 0.02 $beat 0.15
    notes+=("$work/note$i-$j.wav")
    j=$((j + 1))
  done
  sox -R -D "${notes[@]}" "$work/tune$i.wav"
  # Chord on the left, melody on the right, each a little in the other.
  sox -R -D -M "$work/chord$i.wav" "$work/tune$i.wav" "$work/bar$i.wav" remix 1v0.8,2v0.3 1v0.3,2v0.8
  bars+=("$work/bar$i.wav")
done
sox -R -D "${bars[@]}" "$work/music.wav"

# The voice, starting after one second, in the middle.
espeak-ng -v en -s 150 -w "$work/voice22k.wav" \
  "This is the sample that comes with vok. The program reads a wave file, \
turns the sound into a fingerprint, and writes it out as an XML document. \
Every few seconds of audio become a block of thirty two bit sub fingerprints. \
A song keeps its fingerprint, even when it is played again."
sox -R -D "$work/voice22k.wav" -r $rate -c 2 "$work/voice.wav" gain -n -3 pad 1
length=$(sox --i -D "$work/music.wav")
sox -R -D -m "$work/music.wav" "$work/voice.wav" -r $rate -c 2 -b 16 -e signed-integer \
  sample.wav trim 0 "$length" gain -n -1
echo "wrote data/sample.wav: $(sox --i -d sample.wav), $(stat -c %s sample.wav) bytes"
