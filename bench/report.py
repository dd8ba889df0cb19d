#!/usr/bin/env python3
"""Turns the benchmarks' samples into the table of figures, each beside its
floor, and (unless --smoke) writes bench/results.md and the discovery plots.

  report.py --micro MICRO.json --process PROCESS.json --out-dir DIR
            [--build-type T] [--commit C] [--smoke]

MICRO.json is skiff_micro_bench's --benchmark_out (with repetitions, the
first of which is dropped as a warm-up); PROCESS.json is
skiff_process_bench's --out.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

MB = 1 << 20
FIXED_SLEEP = 0.5  # the bridge's first pause while the host opens its end


def spread(values):
    return statistics.median(values), min(values), max(values)


def micro_samples(path):
    with open(path) as handle:
        data = json.load(handle)
    runs = {}
    for entry in data["benchmarks"]:
        if entry.get("run_type") != "iteration" or entry.get("error_occurred"):
            continue
        runs.setdefault(entry["run_name"], []).append(entry)
    for name, entries in runs.items():
        entries.sort(key=lambda entry: entry.get("repetition_index", 0))
        if len(entries) > 1:
            del entries[0]
    return data.get("context", {}), runs


class Figure:
    """One row: the figure, its floor, their ratio (median, min, max) and the
    target the ratio (or the figure) is held to."""

    def __init__(self, name, unit, value, floor, ratio, target, met):
        self.name, self.unit = name, unit
        self.value, self.floor, self.ratio = value, floor, ratio
        self.target, self.met = target, met


def fmt(triple, unit=""):
    if triple is None:
        return "—"
    median, low, high = triple
    return f"{median:.4g}{unit} ({low:.4g}–{high:.4g})"


def paired(values, floors, combine):
    ratios = [combine(value, floor) for value, floor in zip(values, floors)]
    return spread(ratios)


def micro_ratio(runs, name, floor_name, key):
    """Product and floor ran one after the other, not in turns: the ratio's
    range pairs the extremes."""
    value = spread([entry[key] for entry in runs[name]])
    floor = spread([entry[key] for entry in runs[floor_name]])
    ratio = (value[0] / floor[0], value[1] / floor[2], value[2] / floor[1])
    return value, floor, ratio


def figures(micro_runs, process):
    series, parameters = process["series"], process["parameters"]
    rows = []

    def cpu(name):
        return [sample["cpu"] for sample in series[name]]

    def wall(name):
        return [sample["wall"] for sample in series[name]]

    status, status_floor = cpu("status"), cpu("status_floor")
    ratio = paired(status, status_floor, lambda a, b: a / b)
    rows.append(Figure(
        f"getAppStatus process, {int(parameters['status_bundles'])} bundles: CPU s "
        f"(floor: reading the {int(parameters['status_plists'])} Info.plist files)",
        "s", spread(status), spread(status_floor), ratio, "<= 3x", ratio[0] <= 3))
    first = cpu("status_first_search")
    ratio = paired(first, status_floor, lambda a, b: a / b)
    rows.append(Figure(
        "same, first search (nothing kept from an earlier one): CPU s",
        "s", spread(first), spread(status_floor), ratio, "—", None))

    large, small = cpu("status_large_frameworks"), cpu("status_small_frameworks")
    ratio = paired(large, small, lambda a, b: a / b)
    rows.append(Figure(
        f"getAppStatus, {int(parameters['large_framework_files'])}-file frameworks: CPU s "
        f"(floor: {int(parameters['small_framework_files'])}-file frameworks)",
        "s", spread(large), spread(small), ratio, "<= 1.2x", ratio[0] <= 1.2))

    late_cpu, now_cpu = cpu("install_answer_late"), cpu("install")
    late_wall, now_wall = wall("install_answer_late"), wall("install")
    per_second = [(lc - nc) / (lw - nw)
                  for lc, nc, lw, nw in zip(late_cpu, now_cpu, late_wall, now_wall)]
    value = spread(per_second)
    rows.append(Figure(
        f"terminate wait, answer {int(parameters['answer_late_ms'])} ms late: "
        "skiff CPU s per wall s", "", value, None, None, "<= 0.02", value[0] <= 0.02))

    output = parameters["installer_output_bytes"]
    peak = [sample["peak_kib"] * 1024 / MB for sample in series["install_loud"]]
    limit = 1.2 * output / MB + 16
    value = spread(peak)
    rows.append(Figure(
        f"install printing {output / MB:.0f} MiB: skiff peak MB (floor: the output size)",
        " MB", value, (output / MB,) * 3, tuple(v / (output / MB) for v in value),
        f"<= 1.2x output + 16 MB ({limit:.1f} MB)", value[0] <= limit))

    beyond = [w - FIXED_SLEEP for w in wall("install_loud")]
    floor = wall("install_loud_floor")
    ratio = paired(beyond, floor, lambda a, b: a / b)
    rows.append(Figure(
        f"install printing {output / MB:.0f} MiB: wall s beyond the 500 ms sleep "
        "(floor: the shell capturing it to a file)",
        "s", spread(beyond), spread(floor), ratio, "<= 2x", ratio[0] <= 2))

    beyond = spread([w - FIXED_SLEEP for w in wall("install")])
    rows.append(Figure("install, installer ends at once: wall s beyond the 500 ms sleep",
                       "s", beyond, None, None, "<= 0.05 s", beyond[0] <= 0.05))

    document = micro_runs["xml_load"][0]["document_bytes"] / MB
    value, floor, ratio = micro_ratio(micro_runs, "xml_load", "xml_load_floor", "cpu_time")
    rows.append(Figure(f"XmlDocument::LoadFromString, {document:.2g} MB: CPU ms (floor: expat, empty handlers)",
                       "ms", value, floor, ratio, "<= 2.5x", ratio[0] <= 2.5))

    value, floor, ratio = micro_ratio(micro_runs, "xml_save", "xml_save_floor", "cpu_time")
    rows.append(Figure(f"XmlDocument::Save, {document:.2g} MB: CPU ms (floor: write a temporary file, rename)",
                       "ms", value, floor, ratio, "<= 3x", ratio[0] <= 3))

    value, floor, ratio = micro_ratio(micro_runs, "log_line", "log_line_floor",
                                      "items_per_second")
    rows.append(Figure("InstallerLog::Log: lines per CPU s (floor: fputs + fflush)",
                       "", value, floor, ratio, ">= 0.9x", ratio[0] >= 0.9))
    value, floor, ratio = micro_ratio(micro_runs, "log_line", "log_line_spdlog",
                                      "items_per_second")
    rows.append(Figure("same (floor: spdlog's file sink flushing every line)",
                       "", value, floor, ratio, ">= 1x", ratio[0] >= 1))

    peak = spread([sample["peak_kib"] * 1024 / MB for sample in series["status"]])
    rows.append(Figure("getAppStatus peak memory, MB", " MB", peak, None, None, "<= 8 MB",
                       peak[0] <= 8))
    return rows


def table(rows):
    lines = ["| figure | value: median (min–max) | floor | ratio | target | met |",
             "|---|---|---|---|---|---|"]
    for row in rows:
        ratio = fmt(row.ratio, "x") if row.ratio else "—"
        lines.append(f"| {row.name} | {fmt(row.value)} | {fmt(row.floor)} | {ratio} | "
                     f"{row.target} | {'—' if row.met is None else 'yes' if row.met else 'no'} |")
    return "\n".join(lines)


def series_table(micro_runs, process):
    lines = ["| series | runs | CPU s: median (min–max) | wall s | peak KiB |",
             "|---|---|---|---|---|"]
    for name, samples in sorted(process["series"].items()):
        lines.append(f"| {name} | {len(samples)} | "
                     f"{fmt(spread([s['cpu'] for s in samples]))} | "
                     f"{fmt(spread([s['wall'] for s in samples]))} | "
                     f"{fmt(spread([s['peak_kib'] for s in samples]))} |")
    lines += ["", "| benchmark | repetitions | CPU time | real time | unit |",
              "|---|---|---|---|---|"]
    for name, entries in sorted(micro_runs.items()):
        lines.append(f"| {name} | {len(entries)} | "
                     f"{fmt(spread([e['cpu_time'] for e in entries]))} | "
                     f"{fmt(spread([e['real_time'] for e in entries]))} | "
                     f"{entries[0]['time_unit']} |")
    return "\n".join(lines)


def discovery_points(micro_runs, counter, fixed_counter, fixed_value):
    points = {}
    for name, entries in micro_runs.items():
        if not name.startswith("discovery"):
            continue
        first = entries[0]
        if first.get(fixed_counter) != fixed_value:
            continue
        kind = "floor" if name.startswith("discovery_floor") else "skiff"
        times = [entry["cpu_time"] for entry in entries]
        points.setdefault(kind, []).append((first[counter],) + spread(times))
    return {kind: sorted(values) for kind, values in points.items()}


def plot(micro_runs, out_dir):
    made = []
    for counter, fixed_counter, fixed_value, file_name, label in (
            ("bundles", "framework_files", 50, "discovery_bundles.png", "bundles"),
            ("framework_files", "bundles", 100, "discovery_files.png",
             "files per framework (100 bundles)")):
        points = discovery_points(micro_runs, counter, fixed_counter, fixed_value)
        if not points.get("skiff"):
            continue
        data = os.path.join(out_dir, file_name + ".dat")
        with open(data, "w") as handle:
            for kind in ("skiff", "floor"):
                handle.write(f"# {kind}: x median min max (CPU ms)\n")
                for point in points.get(kind, []):
                    handle.write(" ".join(f"{value:.6g}" for value in point) + "\n")
                handle.write("\n\n")
        script = f"""
set terminal pngcairo size 900,560
set output '{os.path.join(out_dir, file_name)}'
set title 'Discovery through the registry: CPU time against {label}'
set xlabel '{label}'
set ylabel 'CPU ms (median, min-max)'
set logscale xy
set key top left
set grid
plot '{data}' index 0 using 1:2:3:4 with yerrorlines title 'registry walk (skiff)', \
     '{data}' index 1 using 1:2:3:4 with yerrorlines title 'floor: reading the Info.plist files'
"""
        subprocess.run(["gnuplot"], input=script, text=True, check=True)
        os.remove(data)
        made.append(file_name)
    return made


def machine():
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as handle:
            for line in handle:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = " ".join(open("/proc/loadavg").read().split()[:3]) if os.path.exists(
        "/proc/loadavg") else "unknown"
    return os.cpu_count(), model, load


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--micro", required=True)
    parser.add_argument("--process", required=True)
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--build-type", default="unknown")
    parser.add_argument("--commit", default="unknown")
    parser.add_argument("--smoke", action="store_true")
    arguments = parser.parse_args()

    _, micro_runs = micro_samples(arguments.micro)
    with open(arguments.process) as handle:
        process = json.load(handle)
    rows = figures(micro_runs, process)
    print(table(rows))
    if arguments.smoke:
        return 0

    plots = plot(micro_runs, arguments.out_dir)
    cores, model, load = machine()
    runs = max(len(samples) for samples in process["series"].values())
    text = f"""# Benchmark results

Written by `scripts/bench.sh`; each figure is measured beside its floor in the
same run. Process series run alternately with their floor, one warm-up round
and then {runs} rounds; the in-process benchmarks run as repetitions of which
the first is dropped. Values are medians with (min–max); a paired ratio is the
median of the per-round ratios, an in-process ratio divides the medians and
its range pairs the extremes. CPU time is user + system time of the process
and the children it waited for; MB = 2^20 bytes.

- Machine: {cores} processors, {model}; load average at the end {load}
- Build: {arguments.build_type}
- Commit: {arguments.commit}

## Figures

{table(rows)}

## Discovery

"""
    for name in plots:
        text += f"![{name}]({name})\n\n"
    text += f"## All series\n\n{series_table(micro_runs, process)}\n"
    with open(os.path.join(arguments.out_dir, "results.md"), "w") as handle:
        handle.write(text)
    print(f"\nWrote {os.path.join(arguments.out_dir, 'results.md')} and {', '.join(plots)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
