#!/usr/bin/env python3
"""Writes the three cue files shipped with the client (22.05 kHz, mono, 16-bit PCM).

The files are committed; run this only to change them: python3 make-sounds.py
"""
import math
import random
import struct
import wave

RATE = 22050


def tone(freq, seconds, attack=0.01, decay=8.0, level=0.5):
    n = int(RATE * seconds)
    out = []
    for i in range(n):
        t = i / RATE
        envelope = min(1.0, t / attack) * math.exp(-decay * t)
        # A little of the octave above makes it a bell rather than a beep.
        s = math.sin(2 * math.pi * freq * t) + 0.3 * math.sin(4 * math.pi * freq * t)
        out.append(level * envelope * s / 1.3)
    return out


def noise(seconds, decay, level, seed):
    rng = random.Random(seed)
    n = int(RATE * seconds)
    out, low = [], 0.0
    for i in range(n):
        t = i / RATE
        low += 0.08 * (rng.uniform(-1, 1) - low)  # a rumble: noise through a simple low-pass
        rumble = math.sin(2 * math.pi * 55 * t) * 0.4
        out.append(level * math.exp(-decay * t) * (low * 3 + rumble))
    return out


def write(name, samples):
    with wave.open(name, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(max(-1, min(1, s)) * 32767)) for s in samples))


# Logged on: two rising notes.
write("connected.wav", tone(523.25, 0.14, decay=6) + tone(783.99, 0.30, decay=7))
# A message: one soft bell.
write("incoming.wav", tone(880.0, 0.40, decay=9, level=0.45))
# A crash: a falling thud of noise.
write("crash.wav", noise(0.70, decay=5, level=0.8, seed=2002))
