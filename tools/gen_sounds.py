#!/usr/bin/env python3
"""Writes the simulator's own sound files into resources/sounds/.

Emboss.wav: a short metallic strike (a click with a fast-decaying ring).
reset.wav:  the machine's reset (a low motor sweep ending in two clicks).
16-bit mono PCM at 22050 Hz, made from fixed formulas so the files never change.
"""
import math
import os
import random
import struct
import wave

RATE = 22050
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "sounds")


def write(name, samples):
    path = os.path.join(OUT, name)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(max(-1.0, min(1.0, s)) * 32000)) for s in samples))


def strike(duration=0.12, seed=1):
    rnd = random.Random(seed)
    out = []
    for i in range(int(duration * RATE)):
        t = i / RATE
        click = rnd.uniform(-1, 1) * math.exp(-t * 400)
        ring = (0.5 * math.sin(2 * math.pi * 2300 * t) + 0.3 * math.sin(2 * math.pi * 3700 * t)) * math.exp(-t * 45)
        out.append(0.8 * click + 0.5 * ring)
    return out


def reset_sound():
    out = []
    n = int(0.9 * RATE)
    phase = 0.0
    for i in range(n):
        t = i / RATE
        freq = 90 + 160 * t
        phase += 2 * math.pi * freq / RATE
        env = min(1.0, t * 20) * min(1.0, (0.9 - t) * 10)
        out.append(0.35 * env * (math.sin(phase) + 0.3 * math.sin(3 * phase)))
    out += strike(0.1, 2) + [0.0] * int(0.05 * RATE) + strike(0.1, 3)
    return out


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    write("Emboss.wav", strike())
    write("reset.wav", reset_sound())
