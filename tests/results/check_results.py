#!/usr/bin/env python3
"""Runs Tachoro (natively, or Tachoro.exe through Wine) against the test frame
server and checks the files it writes: every JSON file validates against
docs/tachoro-results.schema.json, every chart parses as XML, is
self-contained and draws one point per pixel column that holds samples,
keeping each column's lowest and highest rate.

    check_results.py --program PATH --frameserver PATH --schema PATH
                     --version 2.1.3 [--emulator WINE] [--fake-nvml FOLDER]

With --fake-nvml (the folder of the fake NVML library) the GPU runs are
checked too: the driver's readings, bad answers and a lost GPU, and (Linux)
an amdgpu sysfs tree.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import jsonschema

SVG = "{http://www.w3.org/2000/svg}"
PLOT_COLUMNS = 840
PLOT_LEFT = 90


class Runner:
    def __init__(self, args, directory):
        self.directory = directory
        self.emulator = args.emulator
        if self.emulator:
            # Windows keeps the settings file beside the program.
            self.program = os.path.join(directory, "Tachoro.exe")
            shutil.copy(args.program, self.program)
            settings = os.path.join(directory, "Tachoro.ini")
            library = "Z:" + os.path.abspath(args.frameserver).replace("/", "\\")
        else:
            self.program = args.program
            os.makedirs(os.path.join(directory, "config", "tachoro"))
            settings = os.path.join(directory, "config", "tachoro", "Tachoro.ini")
            library = os.path.abspath(args.frameserver)
        self.settings_path = settings
        self.settings_text = ("[Main]\r\nVersion=%s\r\nAVSDLL=%s\r\nAllowOnlyOneInstance=0\r\n"
                              % (args.version, library))
        self.settings()

    def settings(self, extra=""):
        with open(self.settings_path, "wb") as file:
            file.write((self.settings_text + extra).encode())

    def script(self, name, text):
        with open(os.path.join(self.directory, name), "wb") as file:
            file.write(text.encode())

    def native(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\") if self.emulator else path

    def run(self, *arguments, environment=None):
        command = ([self.emulator] if self.emulator else []) + [self.program] + list(arguments)
        environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.directory, "config"),
                           ASAN_OPTIONS="detect_leaks=0", **(environment or {}))
        done = subprocess.run(command, cwd=self.directory, env=environment, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        return done.returncode

    def path(self, name):
        return os.path.join(self.directory, name)


def check_json(path, validator):
    with open(path, "rb") as file:
        document = json.loads(file.read().decode("utf-8"))
    errors = sorted(validator.iter_errors(document), key=lambda error: list(error.path))
    for error in errors[:5]:
        print("%s: %s at %s" % (path, error.message, "/".join(str(part) for part in error.path)))
    assert not errors, path + " does not match the schema"
    return document


def points_of(polyline):
    return [tuple(float(value) for value in point.split(",")) for point in polyline.get("points").split()]


def check_chart(path, document):
    with open(path, "rb") as file:
        text = file.read().decode("utf-8")
    lowered = text.lower()
    for forbidden in ("<script", "href", "url(", "@import", "<image", "<foreignobject", "<style"):
        assert forbidden not in lowered, "%s holds %s" % (path, forbidden)
    root = ElementTree.fromstring(text.encode("utf-8"))
    assert root.tag == SVG + "svg", root.tag
    title = "".join(element.text or "" for element in root.iter(SVG + "text") if element.get("class") == "title")
    # A backslash separates folders on Windows only.
    script = document["script"]
    if document["program"]["platform"].startswith("Windows"):
        script = script.replace("\\", "/")
    assert title == script.split("/")[-1], title

    measured = [run for run in document["runs"] if run["range"]]
    first = min(run["range"]["first"] for run in measured)
    last = max(run["range"]["last"] for run in measured)
    span = last - first + 1
    groups = {group.get("data-run"): group for group in root.iter(SVG + "g") if group.get("class") == "run"}
    drawn = []  # (rate, y) of every point
    for run in document["runs"]:
        if not run["samples"]:
            assert str(run["run"]) not in groups
            continue
        columns = {}
        for sample in run["samples"]:
            column = min((sample["frame"] - first) * PLOT_COLUMNS // span, PLOT_COLUMNS - 1)
            low, high = columns.get(column, (sample["fps"], sample["fps"]))
            columns[column] = (min(low, sample["fps"]), max(high, sample["fps"]))
        group = groups[str(run["run"])]
        lines = {line.get("class"): points_of(line) for line in group.iter(SVG + "polyline")}
        highest, lowest = lines["fps-max"], lines["fps-min"]
        # One point per drawn column, in column order, on both edges.
        assert len(highest) == len(columns) == len(lowest), (len(highest), len(columns), len(lowest))
        expected_x = [PLOT_LEFT + column + 0.5 for column in sorted(columns)]
        assert [x for x, _ in highest] == expected_x and [x for x, _ in lowest] == expected_x
        for (_, top), (_, bottom), column in zip(highest, lowest, sorted(columns)):
            drawn += [(columns[column][1], top), (columns[column][0], bottom)]
    # Every point lies on the one linear scale through the extremes: each
    # column keeps its own lowest and highest rate (to the 0.1 px written).
    if drawn:
        (low_rate, low_y), (high_rate, high_y) = min(drawn), max(drawn)
        if high_rate > low_rate:
            slope = (high_y - low_y) / (high_rate - low_rate)
            assert slope < 0, "higher rates are drawn higher"
            for rate, y in drawn:
                assert abs(low_y + (rate - low_rate) * slope - y) <= 0.11, (rate, y)
    return len(groups)


def check_gpu_runs(tachoro, args, validator, slow):
    """-gpu -json with the drivers' stand-ins: every value a percent, whatever
    the driver answered."""
    no_sysfs = os.path.join(tachoro.directory, "nosys")
    answers = {
        "nvml": "name=Fake\nutilization=40\nencoder=5\ndecoder=12\nprocess=self:30,other:90\n",
        "nvmlbad": "name=\\x1b[2JBad\nutilization=40,250\nencoder=150\nprocess=self:300\nlost_after=3\n",
    }
    for name, text in answers.items():
        with open(tachoro.path(name + ".txt"), "w") as file:
            file.write(text)
        tachoro.script(name + ".avs", slow)
        if tachoro.emulator:
            search = {"WINEPATH": tachoro.native(args.fake_nvml)}
        else:
            search = {"LD_LIBRARY_PATH": args.fake_nvml}
        environment = dict(search, FAKE_NVML_ANSWERS=tachoro.native(tachoro.path(name + ".txt")),
                           TACHORO_TEST_SYSFS_ROOT=no_sysfs)
        assert tachoro.run(name + ".avs", "-gpu", "-json", environment=environment) == 0, name
        document = check_json(tachoro.path(name + ".json"), validator)
        assert document["graphicsCard"]["source"] == "NVML", document["graphicsCard"]
        assert all("gpuProcess" in sample for sample in document["runs"][0]["samples"]), name
    if not tachoro.emulator:
        drm = os.path.join(tachoro.directory, "sys", "sys", "class", "drm", "card0", "device")
        os.makedirs(drm)
        for file, text in (("vendor", "0x1002\n"), ("device", "0x73bf\n"), ("gpu_busy_percent", "37\n")):
            with open(os.path.join(drm, file), "w") as handle:
                handle.write(text)
        tachoro.script("amdgpu.avs", slow)
        environment = {"LD_LIBRARY_PATH": no_sysfs, "TACHORO_TEST_SYSFS_ROOT": os.path.join(tachoro.directory, "sys")}
        assert tachoro.run("amdgpu.avs", "-gpu", "-json", environment=environment) == 0
        document = check_json(tachoro.path("amdgpu.json"), validator)
        assert document["graphicsCard"]["source"] == "amdgpu" and document["graphicsCard"]["cardName"] == "1002:73bf"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--frameserver", required=True)
    parser.add_argument("--schema", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--fake-nvml", default="")
    args = parser.parse_args()
    with open(args.schema, "rb") as file:
        schema = json.load(file)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    with tempfile.TemporaryDirectory(prefix="tachoro-results-") as directory:
        tachoro = Runner(args, directory)
        slow = "frames=300\nframe_delay_us=2000\n"

        # A long run: more samples than pixel columns, and every frame timed.
        tachoro.script("long.avs", "frames=10000000\n")
        assert tachoro.run("long.avs", "-json", "-plot", "-frametimes") == 0
        document = check_json(tachoro.path("long.json"), validator)
        assert len(document["runs"][0]["samples"]) > PLOT_COLUMNS
        assert document["runs"][0]["frameTimes"]["frames"] == 10000000
        assert sum(b["count"] for b in document["runs"][0]["frameTimes"]["histogram"]["bins"]) == 10000000
        check_chart(tachoro.path("long.svg"), document)

        # Several runs of several scripts: a file pair for each script.
        tachoro.script("a.avs", slow)
        tachoro.script("b.avs", "frames=200\nframe_delay_us=2000\n")
        assert tachoro.run("a.avs", "b.avs", "-runs=2", "-json", "-plot") == 0
        for name in ("a", "b"):
            document = check_json(tachoro.path(name + ".json"), validator)
            assert [run["run"] for run in document["runs"]] == [1, 2]
            assert document["series"]["runsCounted"] == 2
            assert check_chart(tachoro.path(name + ".svg"), document) == 2

        # A comparison with a baseline, here the script's own file of the
        # last call (read before it is replaced); no run is 100 % slower.
        assert tachoro.run("a.avs", "-runs=2", "-json", "-baseline=a.json,100") == 0
        document = check_json(tachoro.path("a.json"), validator)
        assert document["baseline"]["file"] == "a.json", document["baseline"]
        assert document["baseline"]["slowerBeyondThreshold"] is False
        # A profile: one entry per stage, the chart with its bars still whole.
        tachoro.script("profile.avs", slow + "frame_delay_us=3000\n")
        assert tachoro.run("profile.avs", "-profile", "-json", "-plot") == 0
        document = check_json(tachoro.path("profile.json"), validator)
        assert [stage["line"] for stage in document["profile"]] == [1, 2, 3], document["profile"]
        assert all(stage["addedMs"] is not None for stage in document["profile"]), document["profile"]
        check_chart(tachoro.path("profile.svg"), document)
        # A parameter scan: one entry per value, typed as given; the chart
        # parses and has a mean for each value.
        tachoro.script("scan.avs", "frames=300\nframe_delay_from=delay\n")
        assert tachoro.run("scan.avs", "-vary=delay=2000,1000", "-json", "-plot") == 0
        document = check_json(tachoro.path("scan.json"), validator)
        assert [(v["row"], v["value"]) for v in document["scan"]["values"]] == [("delay=2000", 2000), ("delay=1000", 1000)]
        chart = ElementTree.parse(tachoro.path("scan.svg")).getroot()
        assert len(chart.findall(".//" + SVG + "circle[@class='mean']")) == 2

        # How runs end: a frame-server error and a fault mid-run, an error in
        # the evaluation, a time limit; and the information-only run.
        cases = [
            ("error.avs", slow + "fail_at=150\nfail_in_load=4\nfail_message=Filter crashed\n", [], 255,
             "frameServerError", "Filter crashed"),
            ("fault.avs", slow + "fail_at=150\nfail_in_load=4\nfail_with=access_violation\n", [], 255, "fault",
             "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"),
            # (-info: a measured run stops at the calibration, which writes no file.)
            ("import.avs", "import_error=No such filter\n", ["-info"], 255, "frameServerError", "No such filter"),
            ("limit.avs", "frames=700\nframe_delay_us=2000\n", ["-timelimit=1"], 0, "stoppedByTimeLimit", ""),
            ("info.avs", slow, ["-info"], 0, "completed", ""),
        ]
        for name, text, extra, exit_code, kind, message in cases:
            tachoro.script(name, text)
            code = tachoro.run(name, "-json", *extra)
            assert code == exit_code, (name, code)
            document = check_json(tachoro.path(name[:-4] + ".json"), validator)
            assert document["outcome"] == {"kind": kind, "message": message}, (name, document["outcome"])

        # A range in the settings file that is no range: recorded as null
        # (the whole clip offered, and declined by the empty input).
        tachoro.settings("FrameRange=5-,9\r\n")
        tachoro.script("norange.avs", slow)
        assert tachoro.run("norange.avs", "-json") == 0
        document = check_json(tachoro.path("norange.json"), validator)
        assert document["settings"]["frameRange"] is None, document["settings"]
        assert document["outcome"]["kind"] == "rangeRefused", document["outcome"]
        tachoro.settings()

        # A script name beyond ASCII stays readable in the JSON file; a
        # backslash is part of a name outside Windows, in the chart too.
        if not args.emulator:
            tachoro.script("caf\u00e9.avs", slow)
            assert tachoro.run("caf\u00e9.avs", "-json") == 0
            document = check_json(tachoro.path("caf\u00e9.json"), validator)
            assert document["script"].endswith("caf\u00e9.avs"), document["script"]
            tachoro.script("back\\slash.avs", slow)
            assert tachoro.run("back\\slash.avs", "-json", "-plot") == 0
            document = check_json(tachoro.path("back\\slash.json"), validator)
            check_chart(tachoro.path("back\\slash.svg"), document)
        if args.fake_nvml:
            check_gpu_runs(tachoro, args, validator, slow)
    print("results: JSON and charts valid")
    return 0


if __name__ == "__main__":
    sys.exit(main())
