#!/usr/bin/env python3
"""Analysis helpers for bench/peers/run.sh (standard library only).

  analyze.py clicks RAW --bpm N [--rate 48000] [--csv FILE]
      Finds the click onsets in a mono s16le recording and prints the
      interval error against the exact beat spacing as shell assignments.
  analyze.py latency PACTL_DUMP... --pid PID
      Reads saved `pactl list sink-inputs` outputs and prints the median,
      minimum and maximum "Buffer Latency" and "Sink Latency" of the sink
      input that belongs to PID, as shell assignments.

Every number printed is plain ASCII, so run.sh can `eval` the output.
"""

import argparse
import array
import math
import re
import shlex
import statistics
import sys


def read_s16le(path):
    samples = array.array("h")
    with open(path, "rb") as f:
        data = f.read()
    samples.frombytes(data[: len(data) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def find_onsets(samples, threshold, refractory):
    """Onsets where the rectified signal first reaches `threshold`, at least
    `refractory` samples after the previous one. Each onset is refined by
    linear interpolation between the two samples around the crossing, so a
    click that a resampler shifted by part of a sample is not rounded."""
    onsets = []
    i, n = 0, len(samples)
    while i < n:
        v = abs(samples[i])
        if v >= threshold:
            prev = abs(samples[i - 1]) if i > 0 else 0
            frac = 0.0
            if v > prev and prev < threshold:
                frac = (threshold - prev) / (v - prev)  # 0..1 from sample i-1
            onsets.append(i - 1 + frac if i > 0 else float(i))
            i += refractory
        else:
            i += 1
    return onsets


def signature(samples, onset, length):
    """The samples of a click from a little before its onset: what tells an
    accent from a plain click."""
    start = max(0, int(onset) - 4)
    return [float(x) for x in samples[start : start + length]]


def correlation(a, b):
    n = min(len(a), len(b))
    if n == 0:
        return 0.0
    a, b = a[:n], b[:n]
    ma, mb = sum(a) / n, sum(b) / n
    num = sum((x - ma) * (y - mb) for x, y in zip(a, b))
    den = math.sqrt(sum((x - ma) ** 2 for x in a) * sum((y - mb) ** 2 for y in b))
    return num / den if den > 0 else 0.0


def classify(samples, onsets, rate):
    """Groups the clicks by their waveform; the kind index of each onset."""
    length = max(16, rate // 1000)  # 1 ms
    templates, kinds = [], []
    for onset in onsets:
        sig = signature(samples, onset, length)
        best, best_corr = -1, 0.9
        for k, t in enumerate(templates):
            c = correlation(sig, t)
            if c > best_corr:
                best, best_corr = k, c
        if best < 0:
            templates.append(sig)
            best = len(templates) - 1
        kinds.append(best)
    return kinds


def percentile(values, p):
    s = sorted(values)
    if not s:
        return float("nan")
    k = (len(s) - 1) * p / 100.0
    lo, hi = math.floor(k), math.ceil(k)
    return s[lo] + (s[hi] - s[lo]) * (k - lo)


def kind_offsets(onsets, kinds, steps, raw_err):
    """Different click sounds cross the threshold at different points of
    their waveform. That constant offset per kind is taken out: for a kind
    k and the commonest kind m, the m->k and k->m intervals are off by
    +o and -o (plus any drift, which cancels in the half difference)."""
    counts = [kinds.count(k) for k in range(max(kinds) + 1)]
    main = counts.index(max(counts))
    offsets = [0.0] * len(counts)
    for k in range(len(counts)):
        if k == main:
            continue
        to_k = [raw_err[i - 1] for i in range(1, len(onsets)) if kinds[i - 1] == main and kinds[i] == k and steps[i - 1] == 1]
        from_k = [raw_err[i - 1] for i in range(1, len(onsets)) if kinds[i - 1] == k and kinds[i] == main and steps[i - 1] == 1]
        if to_k and from_k:
            offsets[k] = (statistics.median(to_k) - statistics.median(from_k)) / 2
    return offsets


def interval_errors(onsets, corrected, steps, period, rate):
    """Each interval's error against the grid, when it falls (s after the
    second click), and the intervals off by more than a sample. The first
    interval after Start is left out: it shows how a program starts its
    stream, not how it keeps time."""
    errors, times, outliers = [], [], []
    for i in range(2, len(onsets)):
        errors.append(corrected[i] - corrected[i - 1] - steps[i - 1] * period)
        times.append((onsets[i] - onsets[1]) / rate)
        if abs(errors[-1]) > 1.0 or steps[i - 1] != 1:
            missed = f" after {steps[i - 1] - 1} missing" if steps[i - 1] != 1 else ""
            outliers.append(f"{times[-1]:.1f} s: {errors[-1]:+.1f}{missed}")
    return errors, times, outliers


def write_csv(path, times, errors, ms):
    with open(path, "w") as f:
        f.write("# time_s error_ms error_samples\n")
        for t, e in zip(times, errors):
            f.write(f"{t:.4f} {e * ms:.5f} {e:.3f}\n")


def clicks(args):
    samples = read_s16le(args.raw)
    rate = args.rate
    period = rate * 60.0 / args.bpm  # the exact beat spacing in samples
    peak = max((abs(x) for x in samples), default=0)
    out = {"recorded_s": len(samples) / rate, "peak": peak, "period_samples": period}
    if peak < 256:
        out["clicks"] = 0
        return out
    threshold = max(64, peak // 10)
    refractory = int(min(0.05 * rate, period / 4))
    onsets = find_onsets(samples, threshold, refractory)
    kinds = classify(samples, onsets, rate)
    out["clicks"] = len(onsets)
    out["threshold"] = threshold
    if len(onsets) < 3:
        return out

    # Beats between neighbours: 1 unless clicks are missing.
    steps = [max(1, round((onsets[i] - onsets[i - 1]) / period)) for i in range(1, len(onsets))]
    raw_err = [onsets[i] - onsets[i - 1] - steps[i - 1] * period for i in range(1, len(onsets))]
    offsets = kind_offsets(onsets, kinds, steps, raw_err)
    corrected = [onsets[i] - offsets[kinds[i]] for i in range(len(onsets))]
    errors, times, outliers = interval_errors(onsets, corrected, steps, period, rate)
    first = corrected[1] - corrected[0] - steps[0] * period
    ms = 1000.0 / rate
    absolute = [abs(e) for e in errors]
    out.update(
        {
            "kinds": len(offsets),
            "kind_offsets": " ".join(f"{o:.2f}" for o in offsets),
            "missing": sum(s - 1 for s in steps),
            "intervals": len(errors),
            "mean_samples": statistics.fmean(errors) if errors else float("nan"),
            "sd_samples": statistics.pstdev(errors) if errors else float("nan"),
            "p99_samples": percentile(absolute, 99),
            "max_samples": max(absolute, default=float("nan")),
            "over_1_sample": sum(1 for a in absolute if a > 1.0),
            "first_interval_samples": first,
            # The first few intervals off by more than a sample, or around
            # a missing click: when (s after the second click) and by how
            # many samples.
            "outliers": "; ".join(outliers[:12]) + (f"; and {len(outliers) - 12} more" if len(outliers) > 12 else ""),
        }
    )
    for key in ("mean", "sd", "p99", "max", "first_interval"):
        out[key + "_ms"] = out[key + "_samples"] * ms
    if args.csv:
        write_csv(args.csv, times, errors, ms)
    return out


LATENCY = re.compile(r"^\s*(Buffer|Sink) Latency:\s*(\d+) usec", re.M)
PID = re.compile(r'application\.process\.id = "(\d+)"')


def latency(args):
    buffer, sink = [], []
    for path in args.dumps:
        with open(path, errors="replace") as f:
            text = f.read()
        for block in re.split(r"^Sink Input #", text, flags=re.M)[1:]:
            m = PID.search(block)
            if not m or int(m.group(1)) != args.pid:
                continue
            values = dict((name, int(us)) for name, us in LATENCY.findall(block))
            if "Buffer" in values:
                buffer.append(values["Buffer"] / 1000.0)
            if "Sink" in values:
                sink.append(values["Sink"] / 1000.0)
    out = {"latency_samples": len(buffer)}
    for name, values in (("buffer", buffer), ("sink", sink)):
        if values:
            out[name + "_ms"] = statistics.median(values)
            out[name + "_min_ms"] = min(values)
            out[name + "_max_ms"] = max(values)
    return out


def emit(values, prefix):
    for key, value in values.items():
        if isinstance(value, float):
            value = "nan" if math.isnan(value) else f"{value:.4f}"
        print(f"{prefix}{key}={shlex.quote(str(value))}")


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    c = sub.add_parser("clicks")
    c.add_argument("raw")
    c.add_argument("--bpm", type=float, required=True)
    c.add_argument("--rate", type=int, default=48000)
    c.add_argument("--csv")
    c.add_argument("--prefix", default="")
    l = sub.add_parser("latency")
    l.add_argument("dumps", nargs="+")
    l.add_argument("--pid", type=int, required=True)
    l.add_argument("--prefix", default="")
    args = parser.parse_args()
    emit(clicks(args) if args.command == "clicks" else latency(args), args.prefix)


if __name__ == "__main__":
    main()
