#!/usr/bin/env python3
"""Fits the confidence's model of the chance that an estimate is off by more than 0.02: a
logistic regression on ln(margin), the comb fit's residual, ln(harmonics used) and
ln(f0 / 100 Hz) (a high note's few partials show few notches), over the modelled strings of one
seed (the fitting seed, 2), and reports it on another (the held-out seed, 1). Pure Python: no
libraries.

    build/bench/bench/position_model_eval --seed 2 --notes > fit.csv
    build/bench/bench/position_model_eval --seed 1 --notes > held.csv
    python3 bench/position/fit_confidence.py fit.csv held.csv
"""
import math
import sys

TOLERANCE = 0.02


def load(path):
    """Estimated notes at blocks of 64 whose pickup is not beyond the pluck."""
    rows, names = [], None
    for line in open(path):
        fields = line.strip().split(",")
        if fields[0] == "block":
            names = fields
            continue
        if names is None or len(fields) != len(names) or fields[0] != "64":
            continue
        r = dict(zip(names, map(float, fields)))
        if r["est"] > 0 and (r["output"] != 2 or r["gamma"] <= r["beta"]):
            r["right"] = 1.0 if abs(r["position"] - r["beta"]) <= TOLERANCE else 0.0
            rows.append(r)
    return rows


def features(r):
    return [1.0, math.log(max(r["margin"], 1.0)), r["residual"], math.log(max(r["used"], 1.0)),
            math.log(max(r["est_f0"], 1.0) / 100.0)]


def solve(a, b):
    n = len(b)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = max(range(c, n), key=lambda i: abs(m[i][c]))
        m[c], m[p] = m[p], m[c]
        for i in range(n):
            if i != c:
                f = m[i][c] / m[c][c]
                for j in range(c, n + 1):
                    m[i][j] -= f * m[c][j]
    return [m[i][n] / m[i][i] for i in range(n)]


def fit(rows, ridge=0.1):
    """Newton's method on the log likelihood of right (1) against wrong, a small ridge on the
    slopes."""
    xs = [features(r) for r in rows]
    w = [0.0] * len(xs[0])
    for _ in range(50):
        k = len(w)
        h = [[ridge * (i == j and i > 0) for j in range(k)] for i in range(k)]
        g = [-(ridge * w[i] if i > 0 else 0.0) for i in range(k)]
        for x, r in zip(xs, rows):
            p = 1.0 / (1.0 + math.exp(-sum(a * b for a, b in zip(w, x))))
            for i in range(k):
                g[i] += (r["right"] - p) * x[i]
                for j in range(k):
                    h[i][j] += p * (1 - p) * x[i] * x[j]
        step = solve(h, g)
        w = [a + b for a, b in zip(w, step)]
        if max(abs(s) for s in step) < 1e-10:
            break
    return w


def confidence(r, w):
    """As the estimate computes it: 1 - 5 x the chance of an error beyond the tolerance."""
    right = 1.0 / (1.0 + math.exp(-sum(a * b for a, b in zip(w, features(r)))))
    return min(1.0, max(0.0, 1.0 - 5.0 * (1.0 - right)))


def report(label, rows, w):
    right = sum(r["right"] for r in rows)
    print(f"{label}: {len(rows)} estimates, {right:.0f} within {TOLERANCE}")
    print("| confidence at least | estimates | share within 0.02 |\n|---|---|---|")
    for c in (0.0, 0.2, 0.35, 0.5, 0.65, 0.8):
        s = [r for r in rows if confidence(r, w) >= c]
        share = 100.0 * sum(r["right"] for r in s) / len(s) if s else float("nan")
        print(f"| {c:.2f} | {len(s)} | {share:.1f}% |")
    reach = sum(r["right"] for r in rows if confidence(r, w) >= 0.5)
    print(f"right estimates reaching 0.5: {100.0 * reach / max(right, 1):.1f}%\n")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    fitting, held = load(sys.argv[1]), load(sys.argv[2])
    w = fit(fitting)
    print("weights (intercept, ln margin, residual, ln used, ln f0/100): " +
          ", ".join(f"{v:.3f}" for v in w) + "\n")
    report("fitting seed", fitting, w)
    report("held-out seed", held, w)


if __name__ == "__main__":
    main()
