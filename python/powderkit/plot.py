"""The usual refinement plot: observed, calculated, background, the difference
offset below them, and a row of tick marks per phase (matplotlib)."""
import numpy as np


def plot_result(result, ax=None, title=None):
    try:
        import matplotlib.pyplot as plt
    except ImportError as missing:
        raise ImportError("Result.plot needs matplotlib (Debian: python3-matplotlib)") from missing
    if ax is None:
        _, ax = plt.subplots(figsize=(10, 5))
    x = result.x
    ax.plot(x, result.observed, "+", markersize=3, color="tab:blue", label="observed")
    ax.plot(x, result.calculated, "-", linewidth=0.8, color="tab:red", label="calculated")
    ax.plot(x, result.background, "-", linewidth=0.6, color="tab:gray", label="background")
    low = min(np.min(result.observed), np.min(result.calculated)) if len(x) else 0.0
    span = max(np.ptp(result.observed), 1.0) if len(x) else 1.0
    # The difference hangs below the pattern, its zero a tenth of the span under the lowest point,
    # and the tick rows below that.
    zero = low - 0.1 * span - max(np.max(result.difference), 0.0) if len(x) else 0.0
    ax.plot(x, result.difference + zero, "-", linewidth=0.6, color="tab:green", label="difference")
    row = zero + min(np.min(result.difference), 0.0) if len(x) else 0.0
    colours = ["black", "tab:purple", "tab:orange", "tab:brown", "tab:pink", "tab:olive"]
    for index, (name, ticks) in enumerate(result.ticks.items()):
        row -= 0.05 * span
        ax.plot(ticks, np.full(len(ticks), row), "|", markersize=8, color=colours[index % len(colours)], label=name)
    ax.set_xlabel("2θ (degrees)")
    ax.set_ylabel("intensity (counts)")
    ax.set_title(title or f"Rwp {result.Rwp:.2f} %, GoF {result.GoF:.2f}")
    ax.legend(loc="upper right", fontsize="small")
    return ax
