#!/usr/bin/env bash
# Makes the small MP3 files the audio tests decode and play. The results are
# committed, so the tests need neither sox nor lame; run this only to make
# them anew (Debian packages: sox, lame).
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# 1 s of a 440 Hz tone, 44.1 kHz stereo (decodes to 176400 bytes).
sox -n -r 44100 -c 2 -b 16 "$tmp/stereo.wav" synth 1.0 sine 440
lame --quiet -b 128 "$tmp/stereo.wav" stereo_44k_1s.mp3

# 0.5 s of a 660 Hz tone, 22.05 kHz mono (decodes to 22050 bytes).
sox -n -r 22050 -c 1 -b 16 "$tmp/mono.wav" synth 0.5 sine 660
lame --quiet -m m -b 64 "$tmp/mono.wav" mono_22k_half.mp3
