#!/usr/bin/env python3
"""The GIMP plug-in timed inside GIMP, beside what it is held to.

    gimp_bench.py BUILD PHOTO OUT RUNS

In one GIMP session (batch mode, a private settings folder under OUT), on
PHOTO's layer: plug-in-glyphmosaic; the baseline plug-in that only reads the
layer, inverts it and writes it back (bench/GimpInvert.cpp), with GEGL's own
settings and with GEGL's tile cache as small as ours; and GIMP's own
gimp-drawable-invert, each RUNS times in turn on a fresh copy of the image.
Times come from the timer plug-in (bench/GimpTimer.cpp): from the call to its
answer. Peak memory is each plug-in process's maximum resident set, from GNU
time wrapped around it. Prints medians and the ratios to the baselines.

The session gets an empty cache folder of its own: with babl's cache of
conversions filled by earlier GIMP sessions, babl builds lookup tables when
any plug-in starts GEGL, and every plug-in's peak is then some 360 MiB,
whatever it does.
"""
import os
import shutil
import statistics
import subprocess
import sys

TARGET = 1.3  # the plug-in's time, at most, as a multiple of the baseline's
# (procedure, plug-in folder, binary in the build folder); GIMP's own has none.
PLUGINS = (("plug-in-glyphmosaic", "glyphmosaic", "gimp/glyphmosaic"),
           ("plug-in-gm-bench-invert", "gm-bench-invert", "bench/gimp_bench_invert"),
           ("plug-in-gm-bench-invert-lean", "gm-bench-invert-lean", "bench/gimp_bench_invert_lean"))
PROCEDURES = tuple(p[0] for p in PLUGINS) + ("gimp-drawable-invert",)
DATA_FOLDERS = ("brushes", "dynamics", "fonts", "gradients", "mypaint-brushes", "palettes", "patterns",
                "tool-presets")


def install(home, name, binary, peaks=None):
    """A plug-in in its own folder; with peaks, run under GNU time, which adds
    its peak and command line to that file."""
    folder = os.path.join(home, "plug-ins", name)
    os.makedirs(folder, exist_ok=True)
    if not peaks:
        shutil.copy2(binary, os.path.join(folder, name))
        return
    real = os.path.join(home, "real", name)
    os.makedirs(os.path.dirname(real), exist_ok=True)
    shutil.copy2(binary, real)
    wrapper = os.path.join(folder, name)
    with open(wrapper, "w") as script:
        script.write(f'#!/bin/sh\nexec /usr/bin/time -a -o "{peaks}" -f "%M %C" "{real}" "$@"\n')
    os.chmod(wrapper, 0o755)


def main():
    build, photo, out, runs = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3]), int(sys.argv[4])
    home, cache = os.path.join(out, "gimp-home"), os.path.join(out, "gimp-cache")
    for folder in (home, cache):
        shutil.rmtree(folder, ignore_errors=True)
    for folder in DATA_FOLDERS:
        os.makedirs(os.path.join(home, folder))
    peaks = {procedure: os.path.join(out, f"peak-{name}.txt") for procedure, name, _ in PLUGINS}
    for procedure, name, binary in PLUGINS:
        if os.path.exists(peaks[procedure]):
            os.remove(peaks[procedure])
        install(home, name, os.path.join(build, binary), peaks[procedure])
    install(home, "gm-bench-time", os.path.join(build, "bench", "gimp_bench_timer"))

    times = os.path.join(out, "gimp-times.txt")
    procedures = " ".join(f'"{p}"' for p in PROCEDURES)
    program = f"""
(let* ((original (car (gimp-file-load RUN-NONINTERACTIVE "{photo}" "{photo}")))
       (time-once
         (lambda (procedure)
           (let* ((image (car (gimp-image-duplicate original)))
                  (layer (car (gimp-image-get-active-drawable image)))
                  (seconds (car (plug-in-gm-bench-time RUN-NONINTERACTIVE procedure image layer))))
             (gimp-image-delete image)
             seconds))))
  (call-with-output-file "{times}"
    (lambda (port)
      (let loop ((run 0))
        (if (< run {runs})
            (begin
              (for-each (lambda (procedure)
                          (display procedure port) (display " " port)
                          (display (time-once procedure) port) (newline port))
                        (list {procedures}))
              (loop (+ run 1))))))))
"""
    log = os.path.join(out, "gimp-bench.log")
    with open(log, "w") as output:
        done = subprocess.run(["gimp-2.10", "-i", "--no-fonts", "-b", program, "-b", "(gimp-quit 0)"],
                              env=dict(os.environ, GIMP2_DIRECTORY=home, XDG_CACHE_HOME=cache),
                              stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT)
    seconds = {p: [] for p in PROCEDURES}
    if os.path.exists(times):
        for line in open(times):
            name, value = line.split()
            seconds[name].append(float(value))
    if done.returncode != 0 or any(len(v) != runs for v in seconds.values()):
        sys.exit(f"gimp_bench: the GIMP session failed; see {log}")

    def peak(procedure):
        lines = [line.split() for line in open(peaks[procedure]) if " -run " in line]
        return statistics.median(int(fields[0]) for fields in lines) / 1024

    median = {p: statistics.median(v) for p, v in seconds.items()}
    ours, plain, lean, own = PROCEDURES
    print(f"GIMP, {os.path.basename(photo)}, medians of {runs}:")
    print(f"  plug-in-glyphmosaic: {median[ours]:.3f} s, {peak(ours):.1f} MiB peak")
    print(f"  baseline read-invert-write plug-in, GEGL's settings: {median[plain]:.3f} s, {peak(plain):.1f} MiB peak")
    print(f"  the same with GEGL's tile cache as ours: {median[lean]:.3f} s, {peak(lean):.1f} MiB peak")
    print(f"  gimp-drawable-invert (GIMP's own): {median[own]:.3f} s")
    worst = max(median[ours] / median[plain], median[ours] / median[lean])
    print(f"GIMP plug-in: {median[ours] / median[plain]:.2f} x the baseline plug-in's time, "
          f"{median[ours] / median[lean]:.2f} x with its cache as ours; {median[ours] / median[own]:.1f} x "
          f"GIMP's own invert; target <= {TARGET}: {'met' if worst <= TARGET else 'NOT MET'}")


if __name__ == "__main__":
    main()
