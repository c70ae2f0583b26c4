"""Turns the benchmark results of scripts/bench.sh into the README's table."""
import json
import pathlib
import re
import sys

folder = pathlib.Path(sys.argv[1])


def medians(name):
    data = json.loads((folder / f"{name}.json").read_text())
    result = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        result[b["run_name"]] = b
    return result


def ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b["real_time"] * scale


ingest = medians("bench_ingest")
record = medians("bench_record")
files = medians("bench_files")
analysis = medians("bench_analysis")
refresh = medians("bench_refresh")
batch = medians("bench_batch")
recording = medians("bench_recording")
recording_view = medians("bench_recording_view")
recording_day = medians("bench_recording_day")
publish = medians("bench_publish")

rows = []


def row(what, figure, baseline, ratio, goal):
    rows.append(f"| {what} | {figure} | {baseline} | {ratio} | {goal} |")


check = ingest["BM_IngestCheck/iterations:40/real_time"]
plain = ingest["BM_PlainReader/iterations:40/real_time"]
rate, plain_rate = check["items_per_second"], plain["items_per_second"]
row("Stream ingest through `Check`, index 0 (records/s; lost: %d)" % check.get("lost", 0),
    f"{rate / 1e6:.2f} M", f"plain reader {plain_rate / 1e6:.2f} M",
    f"{rate / plain_rate:.2f}", ">= 0.5 M/s and >= 0.5")

plain = record["BM_RecordPlainReader/iterations:8/manual_time"]["items_per_second"]
for name, what in (("BM_RecordOnly", "recording alone"), ("BM_RecordToCsv", "written to .csv")):
    b = record[f"{name}/iterations:8/manual_time"]
    rate = b["items_per_second"]
    row("`tarvelo-cli record`, index 0, %s (samples/s; lost: %d)" % (what, b.get("lost", 0)),
        f"{rate / 1e6:.2f} M", f"plain reader {plain / 1e6:.2f} M", f"{rate / plain:.2f}",
        ">= 0.5, nothing lost")

split = record["BM_RecordSplitCpuAt1000/iterations:1/real_time"]
row("`record --split 0.5` at 1000 samples/s to .csv, 3 s: samples lost at %d boundaries"
    % (split["files"] - 1), "%d" % split["lost"], "–", "–", "0")
row("CPU of that `record --split` run, simulator included", f"{split['cpu_percent']:.2f} %",
    f"plain reader + simulator {split['plain_cpu_percent']:.2f} %",
    f"+{split['cpu_percent'] - split['plain_cpu_percent']:.2f} points", "< 1 % of a core")
restarts = [record[f"BM_FirstSampleAfterRestart/{d}/iterations:1/manual_time"]["ms"]
            for d in (500, 1300, 2500)]
row("First sample after the instrument accepts connections again (downtime 0.5 / 1.3 / 2.5 s)",
    " / ".join(f"{m:.0f} ms" for m in restarts), "–", "–", "<= 1 s")

writer = ingest["BM_RecordWriterThroughput/iterations:40/real_time"]
row("Recording writer alone: lines formatted, written and synced (lines/s)",
    f"{writer['items_per_second'] / 1e6:.2f} M", f"plain reader {plain_rate / 1e6:.2f} M",
    f"{writer['items_per_second'] / plain_rate:.3f}", ">= 0.5 (see note)")
cpu_off = ingest["BM_SamplingCpuAt1000/0/iterations:1/real_time"]
cpu_on = ingest["BM_SamplingCpuAt1000/1/iterations:1/real_time"]
row("CPU of sampling + recording at 1000 samples/s, simulator included (lost: %d)"
    % cpu_on.get("lost", 0), f"{cpu_on['cpu_percent']:.2f} %",
    f"sampling alone {cpu_off['cpu_percent']:.2f} %",
    f"+{cpu_on['cpu_percent'] - cpu_off['cpu_percent']:.2f} points", "< 5 % of a core")
for name, what in (("BM_BatchToFile/iterations:1/real_time", "Batch to file"),
                   ("BM_BatchToMemory/iterations:2/real_time", "Batch to list")):
    b = batch[name]
    row(f"{what}: time per record ({b['exchanges_per_record']:.2f} exchanges)",
        f"{b['ms_per_record']:.0f} ms", f"protocol floor {b['floor_ms_per_record']:.0f} ms",
        f"{b['ratio']:.3f}", "<= 1.05")

save, plain_w, plain_wf = (files["BM_SaveSampleFile"], files["BM_PlainWrite/0"],
                           files["BM_PlainWrite/1"])
row("Save a full memory (10240 rows, atomic, synced)", f"{ms(save):.2f} ms",
    f"plain write + fsync {ms(plain_wf):.2f} ms (no fsync {ms(plain_w):.2f} ms)",
    f"{ms(save) / ms(plain_wf):.2f}", "<= 2")
load, plain_r = files["BM_LoadSampleFile"], files["BM_PlainRead/1"]
row("Load a full memory (read and check)", f"{ms(load):.3f} ms",
    f"plain read {ms(plain_r):.3f} ms", f"{ms(load) / ms(plain_r):.2f}", "<= 2")
text = files["BM_ExportText"]
row("Export text of a full memory (build)", f"{ms(text):.2f} ms", "–", "–", "–")
asc = files["BM_SaveExportFile"]
row("Export file of a full memory (write)", f"{ms(asc):.2f} ms",
    f"plain write + fsync {ms(plain_wf):.2f} ms", f"{ms(asc) / ms(plain_wf):.2f}", "–")
book = files["BM_Workbook"]
row("Workbook (.xlsx) of a full memory", f"{ms(book):.0f} ms", "–", "–", "< 500 ms")

graph, plain_g = refresh["BM_GraphRefreshAndRender"], refresh["BM_PlainChartReplaceAndRender"]
row("Graph refresh of a full memory, drawn at window size", f"{ms(graph):.2f} ms",
    f"plain Qt Charts replace + draw {ms(plain_g):.2f} ms", f"{ms(graph) / ms(plain_g):.2f}",
    "<= 0.2 and <= 6 ms")
draw = refresh["BM_ChartDrawIntoImage"]
for name, what in (("BM_ChartSavePng", "PNG"), ("BM_ChartSaveSvg", "SVG")):
    b = refresh[name]
    row(f"Save the chart of a full memory as {what} (atomic, synced)", f"{ms(b):.2f} ms",
        f"draw it into an image {ms(draw):.2f} ms", f"{ms(b) / ms(draw):.2f}", "<= 3")
stats = analysis["BM_ComputeStatisticsFullMemory"]
row("Statistics of a full memory", f"{ms(stats):.3f} ms", "–", "–", "–")

opened = recording["BM_OpenRecording/0/iterations:3/real_time"]
opened1 = recording["BM_OpenRecording/1/iterations:3/real_time"]
wc = recording["BM_WcL/iterations:5/manual_time"]
what = (f"Open a recording of {opened['samples'] / 1e6:.0f} M samples "
        f"({opened['file_MB']:.0f} MB .csv), every value, until it can be drawn")
row(what, f"{ms(opened) / 1e3:.2f} s", f"`wc -l` {ms(wc) / 1e3:.3f} s",
    f"{ms(opened) / ms(wc):.1f}", "<= 10")
pandas = recording.get("BM_PandasReadCsv/iterations:1/manual_time")
if pandas and pandas.get("error_occurred") is not True:
    row("... the same against pandas `read_csv`", f"{ms(opened) / 1e3:.2f} s",
        f"pandas {ms(pandas) / 1e3:.2f} s", f"{ms(opened) / ms(pandas):.3f}", "<= 0.1")
row("... the same on one thread", f"{ms(opened1) / 1e3:.2f} s", f"`wc -l` {ms(wc) / 1e3:.3f} s",
    f"{ms(opened1) / ms(wc):.1f}", "–")
row("Memory of an open recording (bytes per sample; the file: "
    f"{opened['file_MB'] * 1e6 / opened['samples']:.0f})", f"{opened['bytes_per_sample']:.1f} B",
    "a memory row 48 B", f"{opened['bytes_per_sample'] / 48:.2f}", "well below the file")
for name, what in (("BM_StatisticsWholeRun", "whole run"), ("BM_StatisticsStretch", "random stretch")):
    b = recording[name]
    row(f"Statistics of a recording's {what} (exact, every sample)", f"{ms(b):.3f} ms", "–", "–",
        "<= 50 ms")
day = recording_day["BM_OpenDay/iterations:1/real_time"]
day_wc = recording_day["BM_DayWcL/iterations:3/manual_time"]
row(f"Open a day at 1000 samples/s as one run: {day['files']:.0f} split files, "
    f"{day['samples'] / 1e6:.1f} M samples ({day['file_MB'] / 1e3:.2f} GB .csv)",
    f"{ms(day) / 1e3:.1f} s", f"`wc -l` {ms(day_wc) / 1e3:.2f} s", f"{ms(day) / ms(day_wc):.1f}",
    "opens")
row("Memory of that day open: held (bytes per sample); peak of the program's own while opening",
    f"{day['held_MB']:.0f} MB ({day['bytes_per_sample']:.1f} B); peak {day['peak_own_MB']:.0f} MB",
    f"the files {day['file_MB']:.0f} MB", f"{day['peak_own_MB'] / day['file_MB']:.2f}",
    "well below the files")
second = recording_day["BM_DayStretchToMemory"]
row(f"A one-second stretch of that day ({second['rows']:.0f} samples) as memory rows "
    f"({second.get('label', '')})", f"{ms(second):.3f} ms", "–", "–", "works")
fill = recording_view["BM_PlainImageFill"]
for arg, what in ((1, "whole run"), (100, "1/100 of it"), (10000, "1/10^4"),
                  (1000000, "1/10^6: single samples")):
    b = recording_view[f"BM_RecordingRedraw/{arg}"]
    row(f"Recording window redraw after a zoom or pan, {what}", f"{ms(b):.2f} ms",
        f"fill the image {ms(fill):.2f} ms", f"{ms(b) / ms(fill):.0f}", "<= 16 ms")
pub = publish["BM_PublishRecording/iterations:3/manual_time"]
plain_pub = publish["BM_PublishPlainLoop/iterations:3/manual_time"]
row("Published from the unpaced simulator to mosquitto, QoS 1 (samples/s; lost: %d)"
    % pub.get("lost", 0), f"{pub['items_per_second'] / 1e3:.1f} k",
    f"plain libmosquitto loop {plain_pub['items_per_second'] / 1e3:.1f} k",
    f"{pub['items_per_second'] / plain_pub['items_per_second']:.2f}", ">= 0.5, nothing lost")
csv_only = publish["BM_PublishAt1000/0/iterations:1/manual_time"]
csv_pub = publish["BM_PublishAt1000/1/iterations:1/manual_time"]
row("CPU of `tarvelo-cli record` to .csv + --publish at 1000 samples/s",
    f"{csv_pub['cpu_percent']:.2f} %", f".csv alone {csv_only['cpu_percent']:.2f} %",
    f"+{csv_pub['cpu_percent'] - csv_only['cpu_percent']:.2f} points", "< 2 % of a core")
row("Latency from the record's device time to a subscriber, 1000 samples/s (median; p99)",
    f"{csv_pub['latency_median_ms']:.1f} ms", f"p99 {csv_pub['latency_p99_ms']:.1f} ms", "–",
    "median < 20 ms")

link = (folder / "link.txt").read_text()
times = [float(m) for m in re.findall(r"\s([0-9.]+) ms  reply", link)]
if len(times) >= 2:
    row("One command exchange (#X00) with the simulator", f"{times[0]:.1f} ms",
        "fixed wait 100 ms", f"{times[0] / 100:.2f}", "a little over 100 ms")
    row("Reply whose end mark comes alone (receive time-out)", f"{times[1]:.0f} ms",
        "wait + time-out 1100 ms", f"{times[1] / 1100:.2f}", "a little over 1.1 s")

print("| What | Figure | Baseline (same run) | Ratio | Goal |")
print("|---|---|---|---|---|")
print("\n".join(rows))
