# SPDX-License-Identifier: MIT
"""A capture's timeline as a picture: ``vantor trace plot FILE -o timeline.svg``.

One lane per bus family and one for notifications; each transaction is a bar
from its request to its response, coloured by how it ended, beside a
histogram of the latencies. Records that did not succeed carry an SVG
element id naming their command and status (``failed-3-CMD_I2C_CONTROLLER_READ-
FW_I2C_NACK_ADDRESS``; the first thousand), and the first twelve a label on
the plot, so that they can be found in a large capture.

matplotlib is an optional dependency (``pip install pyvantorsdk[plot]``),
imported only when a plot is drawn; the plot is drawn on the Agg canvas,
without pyplot, so the caller's own matplotlib backend is left alone.
"""

from __future__ import annotations

import importlib
import os
from pathlib import Path
from typing import TYPE_CHECKING, Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

if TYPE_CHECKING:
    from pyvantorsdk.trace import Record

__all__ = ["PlotUnavailable", "check_available", "outcome", "plot_timeline"]

EXTRA_HINT = "pip install pyvantorsdk[plot]"
# The formats a plot is written in, by the output file's ending.
FORMATS = (".svg", ".png")
# Lanes of the families, top to bottom; a family not listed (or none)
# goes to "other", notifications to the last lane.
FAMILY_ORDER = ("system", "i2c", "spi", "uart", "gpio", "i3c")
NOTIFICATION_LANE = "notifications"
OTHER_LANE = "other"
COLOURS = {
    "success": "#2e8b57",
    "failure": "#d62728",
    "broken": "#ff8c00",  # unanswered, unsolicited or malformed
    "notification": "#1f77b4",
}
LEGEND = (("success", "success"), ("failure", "failed status"),
          ("broken", "unanswered / malformed"), ("notification", "notification"))
# Records that did not succeed: labelled on the plot itself, and drawn
# each with an SVG id (the rest are drawn with the others of their lane).
LABELLED_FAILURES = 12
MARKED_FAILURES = 1000
# The narrowest bar, as a share of the time axis: a 100 µs transaction in a
# minute-long capture still shows.
MIN_BAR_SHARE = 0.002
# Fixed for the same capture to give the same SVG, byte for byte.
SVG_SALT = "pyvantorsdk"


class PlotUnavailable(ImportError):
    """matplotlib, which draws the plot, is not installed."""


def check_available() -> None:
    """Raises PlotUnavailable, naming the extra, without matplotlib."""
    _matplotlib()


def _matplotlib() -> Tuple[Any, Any]:
    """(matplotlib, its Figure class), or PlotUnavailable naming the extra."""
    try:
        matplotlib = importlib.import_module("matplotlib")
        figure = importlib.import_module("matplotlib.figure")
        importlib.import_module("matplotlib.backends.backend_agg")
    except ImportError:
        raise PlotUnavailable(
            f"plotting needs matplotlib, which is not installed: {EXTRA_HINT}"
        ) from None
    return matplotlib, figure.Figure


def outcome(record: "Record") -> str:
    """How a record is drawn: "success", "failure" (a status other than
    SUCCESS), "broken" (unanswered, unsolicited, malformed) or "notification"."""
    if record.kind == "notification":
        return "notification"
    if record.kind != "transaction":
        return "broken"
    return "success" if record.status == "SUCCESS" else "failure"


def lane_of(record: "Record") -> str:
    if record.kind == "notification":
        return NOTIFICATION_LANE
    return record.family if record.family in FAMILY_ORDER else OTHER_LANE


def lane_label(lane: str) -> str:
    return lane if lane in ("system", OTHER_LANE, NOTIFICATION_LANE) else lane.upper()


def element_id(number: int, record: "Record") -> str:
    """The SVG id of a record that did not succeed: its number in the
    capture (from 1), command and status (or what went wrong)."""
    what = record.status or record.kind
    return f"failed-{number}-{record.command or 'unknown'}-{what}"


def plot_timeline(
    records: Iterable["Record"], output: Union[str, "os.PathLike[str]"], *, title: str = ""
) -> None:
    """Draw the records' timeline and latency histogram into ``output``
    (.svg or .png). Raises ValueError for another ending or no records,
    PlotUnavailable without matplotlib."""
    path = Path(output)
    if path.suffix.lower() not in FORMATS:
        raise ValueError(f"{path}: the plot is written as .svg or .png")
    shown = sorted(records, key=lambda r: r.time)
    if not shown:
        raise ValueError("no traffic to plot")
    matplotlib, figure_class = _matplotlib()
    with matplotlib.rc_context({"svg.hashsalt": SVG_SALT, "svg.fonttype": "none"}):
        figure = _draw(figure_class, shown, title)
        from matplotlib.backends.backend_agg import FigureCanvasAgg

        FigureCanvasAgg(figure)
        # No creation date (and for PNG no software version): the same
        # capture gives the same file.
        metadata: Dict[str, Optional[str]] = (
            {"Date": None} if path.suffix.lower() == ".svg" else {"Software": None}
        )
        figure.savefig(path, metadata=metadata)


def _lanes(records: Sequence["Record"]) -> List[str]:
    present = {lane_of(r) for r in records}
    lanes = [f for f in FAMILY_ORDER if f in present]
    if OTHER_LANE in present:
        lanes.append(OTHER_LANE)
    return lanes + [NOTIFICATION_LANE]


def _draw(figure_class: Any, records: Sequence["Record"], title: str) -> Any:
    lanes = _lanes(records)
    row = {lane: len(lanes) - 1 - i for i, lane in enumerate(lanes)}  # the first on top
    start = records[0].time
    end = max(r.time + (r.latency or 0.0) for r in records)
    span_ms = max((end - start) * 1000.0, 1e-3)
    min_width = span_ms * MIN_BAR_SHARE

    figure = figure_class(figsize=(11, 1.6 + 0.55 * len(lanes)), layout="constrained")
    timeline, histogram = figure.subplots(
        1, 2, gridspec_kw={"width_ratios": (3, 1)}, squeeze=True
    )
    # Drawn as one artist per lane and outcome, but for each of the first
    # MARKED_FAILURES that did not succeed: an artist of its own, with its id.
    bars: Dict[Tuple[int, str], List[Tuple[float, float]]] = {}
    marks: Dict[Tuple[int, str], List[float]] = {}
    failures = 0  # failed, unanswered, unsolicited or malformed
    for number, record in enumerate(records, 1):
        kind = outcome(record)
        x = (record.time - start) * 1000.0
        y = row[lane_of(record)]
        bar = kind in ("success", "failure") or record.latency is not None
        width = max((record.latency or 0.0) * 1000.0, min_width)
        if kind in ("success", "notification"):
            pass
        elif failures < MARKED_FAILURES:
            failures += 1
            if bar:
                artist = timeline.broken_barh([(x, width)], (y - 0.3, 0.6), color=COLOURS[kind])
            else:
                artist = timeline.plot([x], [y], marker="x", markersize=12, linestyle="",
                                       color=COLOURS[kind])[0]
            artist.set_gid(element_id(number, record))
            if failures <= LABELLED_FAILURES:
                _label(timeline, record, x, y, failures, x > span_ms * 0.6)
            continue
        else:
            failures += 1
        if bar:
            bars.setdefault((y, kind), []).append((x, width))
        else:
            marks.setdefault((y, kind), []).append(x)
    for (y, kind), spans in bars.items():
        timeline.broken_barh(spans, (y - 0.3, 0.6), color=COLOURS[kind])
    for (y, kind), xs in marks.items():
        timeline.plot(xs, [y] * len(xs), marker="|" if kind == "notification" else "x",
                      markersize=12, linestyle="", color=COLOURS[kind])
    timeline.set_yticks([row[lane] for lane in lanes], [lane_label(lane) for lane in lanes])
    timeline.set_ylim(-0.7, len(lanes) + 0.1)  # room for the top lane's labels
    timeline.set_xlim(-span_ms * 0.01, span_ms * 1.02)
    timeline.set_xlabel("time (ms from the first record)")
    timeline.grid(axis="x", alpha=0.3)
    patches = importlib.import_module("matplotlib.patches")
    handles = [patches.Patch(color=COLOURS[key], label=text) for key, text in LEGEND]
    timeline.legend(handles=handles, loc="upper left", bbox_to_anchor=(0, -0.18), ncol=4,
                    fontsize=8, frameon=False)
    transactions = [r for r in records if r.kind == "transaction"]
    failed = sum(1 for r in transactions if outcome(r) == "failure")
    timeline.set_title(
        f"{title + ': ' if title else ''}{len(transactions)} transactions, {failed} failed, "
        f"{failures - failed} unanswered or malformed",
        fontsize=10,
    )
    _histogram(histogram, transactions)
    return figure


def _label(axes: Any, record: "Record", x: float, y: float, count: int, right: bool) -> None:
    """The command and status above a record that did not succeed, inside
    the plot (near the right end ending at the record), every other one
    higher so that neighbours do not overprint each other."""
    kind = outcome(record)
    label = axes.annotate(
        f"{record.command or 'unknown'}: {record.status or record.kind}",
        (x, y + 0.3), xytext=(0, 3 + 9 * (count % 2 == 0)), textcoords="offset points",
        fontsize=7, color=COLOURS[kind], clip_on=True, ha="right" if right else "left",
    )
    label.set_in_layout(False)


def _histogram(axes: Any, transactions: Sequence["Record"]) -> None:
    series, colours, labels = [], [], []
    for kind in ("success", "failure"):
        latencies = [r.latency * 1e6 for r in transactions
                     if outcome(r) == kind and r.latency is not None]
        if latencies:
            series.append(latencies)
            colours.append(COLOURS[kind])
            labels.append(kind)
    if series:
        axes.hist(series, bins=20, stacked=True, color=colours, label=labels)
    ticker = importlib.import_module("matplotlib.ticker")
    axes.yaxis.set_major_locator(ticker.MaxNLocator(integer=True))
    axes.set_xlabel("latency (µs)")
    axes.set_ylabel("transactions")
    axes.set_title("latency", fontsize=10)
