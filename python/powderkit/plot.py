"""The usual refinement plot: observed, calculated, background, the difference
offset below them, and a row of tick marks per phase (matplotlib); one panel per
pattern of a joint refinement."""
import numpy as np

from .errors import Error

_AXIS_LABELS = {"two_theta": "2θ (degrees)", "tof": "time of flight (ms)"}


def plot_result(result, ax=None, title=None):
    try:
        import matplotlib.pyplot as plt
    except ImportError as missing:
        raise ImportError("Result.plot needs matplotlib (Debian: python3-matplotlib)") from missing
    histograms = result.histograms
    if len(histograms) == 1:
        if ax is None:
            _, ax = plt.subplots(figsize=(10, 5))
        _panel(ax, result, histograms[0].axis, title or f"Rwp {result.Rwp:.2f} %, GoF {result.GoF:.2f}")
        return ax
    if ax is None:
        _, ax = plt.subplots(len(histograms), 1, figsize=(10, 4 * len(histograms)), constrained_layout=True)
    axes = list(np.ravel(ax))
    if len(axes) != len(histograms):
        raise Error(f"a joint result plots one panel per pattern ({len(histograms)}); ax gives {len(axes)}")
    for panel, histogram in zip(axes, histograms):
        _panel(panel, histogram, histogram.axis, f"{histogram.name}: Rwp {histogram.Rwp:.2f} %, "
                                                 f"GoF {histogram.GoF:.2f}")
    if title:
        axes[0].figure.suptitle(title)
    return ax


def _panel(ax, curves, axis, title):
    """One pattern's curves (a Result or one of its histograms) on one Axes."""
    x = curves.x
    ax.plot(x, curves.observed, "+", markersize=3, color="tab:blue", label="observed")
    ax.plot(x, curves.calculated, "-", linewidth=0.8, color="tab:red", label="calculated")
    ax.plot(x, curves.background, "-", linewidth=0.6, color="tab:gray", label="background")
    low = min(np.min(curves.observed), np.min(curves.calculated)) if len(x) else 0.0
    span = max(np.ptp(curves.observed), 1.0) if len(x) else 1.0
    # The difference hangs below the pattern, its zero a tenth of the span under the lowest point,
    # and the tick rows below that.
    zero = low - 0.1 * span - max(np.max(curves.difference), 0.0) if len(x) else 0.0
    ax.plot(x, curves.difference + zero, "-", linewidth=0.6, color="tab:green", label="difference")
    row = zero + min(np.min(curves.difference), 0.0) if len(x) else 0.0
    colours = ["black", "tab:purple", "tab:orange", "tab:brown", "tab:pink", "tab:olive"]
    for index, (name, ticks) in enumerate(curves.ticks.items()):
        row -= 0.05 * span
        ax.plot(ticks, np.full(len(ticks), row), "|", markersize=8, color=colours[index % len(colours)], label=name)
    ax.set_xlabel(_AXIS_LABELS[axis])
    ax.set_ylabel("intensity (counts)")
    ax.set_title(title)
    ax.legend(loc="upper right", fontsize="small")
