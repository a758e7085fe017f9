"""What the Python benchmarks read of a client process: its CPU time and
resident memory from /proc, and, for the desktop client, its main window's
active state as a screen reader sees it on the accessibility bus."""
import os
import subprocess


def cpu_seconds(pid):
    """User + system CPU time of the process and all its threads."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kb(pid, field="VmRSS"):
    """Resident memory of the process, in KiB; field="VmHWM" gives its peak."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def rss_peak_kb(pid):
    """Peak resident memory of the process so far (VmHWM), in KiB."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main_window_active():
    """The main window's active state as a screen reader sees it."""
    import pyatspi
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None:
            continue
        for frame in app:
            if frame is not None and frame.name.startswith("Le Kordo"):
                return frame.getState().contains(pyatspi.STATE_ACTIVE)
    raise RuntimeError("main window not found on the accessibility bus")


def stop(proc, wait=10):
    """Ends a child still running: SIGTERM, then SIGKILL after `wait` s."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(wait)
        except subprocess.TimeoutExpired:
            proc.kill()
