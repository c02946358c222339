"""Runs a test script in a Python process of its own."""
import subprocess
import sys


def run_in_a_new_interpreter(script, *args, timeout=30):
    """Runs script with args in a Python process of its own; returns what it printed."""
    child = subprocess.run([sys.executable, "-c", script, *args],
                           capture_output=True, text=True, timeout=timeout)
    assert child.returncode == 0, child.stderr
    return child.stdout
