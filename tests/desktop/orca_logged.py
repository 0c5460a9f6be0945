"""Runs Orca with its debug log opened line-buffered: Orca opens the file block-buffered, and what it
spoke last would stay in the buffer until it speaks again.
    orca_logged.py LOG [ORCA ARGUMENTS...]
Orca refuses to start beside another Orca of the same user, and its --replace kills every process
of that user named orca, on any display; this one starts beside them and touches none.
"""
import builtins
import runpy
import sys

log = sys.argv[1]
system_open = builtins.open


def line_buffered(file, mode='r', buffering=-1, *rest, **named):
    if file == log and 'w' in mode:
        buffering = 1
    return system_open(file, mode, buffering, *rest, **named)


builtins.open = line_buffered
sys.argv = ['/usr/bin/orca', '--debug-file', log] + sys.argv[2:]
launcher = runpy.run_path('/usr/bin/orca', run_name='orca_launcher')  # defines, runs nothing
launcher['main'].__globals__['otherOrcas'] = lambda: []
sys.exit(launcher['main']())
