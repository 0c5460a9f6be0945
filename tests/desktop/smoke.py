"""The program on a desktop, as a player who listens to a screen reader meets it.

Run by run_smoke.sh inside a private X display with openbox and a private session bus:
    smoke.py PROGRAM WORKDIR
An at-spi event listener stays registered throughout, as a screen reader's is, and the program
must end with status 0 when its window is closed. Every wait polls the bus and the window
system until its condition holds or its deadline passes.
"""
import datetime
import os
import subprocess
import sys
import time

import gi
gi.require_version('Atspi', '2.0')
from gi.repository import GLib  # noqa: E402
import pyatspi  # noqa: E402

APP_NAME = 'Brisko Calculator'


class Desktop:
    def __init__(self):
        self.events = []
        pyatspi.Registry.registerEventListener(
            self._hear, 'object:state-changed:focused', 'object:state-changed:showing', 'window:activate',
            'object:announcement')

    def _hear(self, event):
        try:
            source = event.source
            said = event.any_data if event.type == 'object:announcement' else source.name
            self.events.append((event.type, source.getRoleName(), said, event.detail1))
        except Exception:  # an object gone before it could be read
            pass

    def poll(self, what, condition, seconds=15):
        deadline = time.monotonic() + seconds
        context = GLib.MainContext.default()
        while time.monotonic() < deadline:
            while context.pending():
                context.iteration(False)
            result = condition()
            if result:
                return result
            time.sleep(0.02)
        fail('%s within %d s; heard last: %s' % (what, seconds, self.events[-8:]))

    def heard_since(self, mark, kind, role, name=None):
        """The first event of that kind for that object since the mark; a state's must set it."""
        for event in self.events[mark:]:
            if event[0] == kind and event[1] == role and (name is None or event[2] == name) and \
                    (event[3] == 1 or not kind.startswith('object:state-changed')):
                return event
        return None


def fail(message):
    print('FAIL: ' + message)
    sys.exit(1)


def xdotool(*arguments):
    return subprocess.run(['xdotool', *arguments], check=True, capture_output=True, text=True).stdout.strip()


def window(*query):
    """The first window xdotool finds, or None."""
    found = subprocess.run(['xdotool', *query], capture_output=True, text=True).stdout.split()
    return found[0] if found else None


def read(path):
    with open(path, encoding='latin-1') as file:
        return file.read()


def application():
    """The program on the bus, which is this test's own."""
    return next((app for app in pyatspi.Registry.getDesktop(0) if app is not None and app.name == APP_NAME), None)


def find(root, role, name):
    return pyatspi.findDescendant(root, lambda o: o.getRoleName() == role and o.name == name)


def focused(accessible):
    return accessible if accessible is not None and accessible.getState().contains(pyatspi.STATE_FOCUSED) else None


def score_file(path):
    """Title -> (date, DP lost) of every record of a score file."""
    lines = read(path).splitlines()
    return {lines[i]: (lines[i + 1], lines[i + 2]) for i in range(0, len(lines) - 3, 4)}


def record(title, date, dp):
    return '%s\n%s\n%d\n----------\n' % (title, date, dp)


def main():
    program, work = sys.argv[1], sys.argv[2]
    with open(os.path.join(work, 'Scores.txt'), 'w') as file:
        file.write(record('ABSOLUTE', '06/09/2005', 10))
    with open(os.path.join(work, 'friend.txt'), 'w') as file:
        file.write(record('ABSOLUTE', '01/01/2006', 17))
    open(os.path.join(work, 'fruit.txt'), 'w').close()  # a second name, so that completion has a choice

    desktop = Desktop()
    environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', QT_QPA_PLATFORM='xcb')
    child = subprocess.Popen([program], cwd=work, env=environment)
    try:
        run(desktop, work)
        xdotool('key', '--clearmodifiers', 'alt+F4')  # openbox closes the window, and the program ends
        if child.wait(timeout=60) != 0:
            fail('the program ended with status %d' % child.returncode)
    finally:
        if child.poll() is None:
            child.terminate()
            child.wait(timeout=30)
    print('PASS')


def run(desktop, work):
    app = desktop.poll('the program on the accessibility bus', application, 30)
    main_window = desktop.poll('the main window', lambda: window('search', '--name', 'Brisko Calculator - ver'))
    frame = desktop.poll('its frame', lambda: find(app, 'frame', xdotool('getwindowname', main_window)))
    list_ = desktop.poll('the list focused', lambda: frame.getState().contains(pyatspi.STATE_ACTIVE) and
                         focused(find(frame, 'tree', 'Charts and scores')))

    # Typing in Great: once the typing pauses, the result is said: shown as a notification, or
    # announced by the window where Qt can announce.
    mark = len(desktop.events)
    xdotool('key', '--clearmodifiers', 'alt+g')
    xdotool('type', '--delay', '100', '36')
    spoken = desktop.poll('the result said', lambda: desktop.heard_since(mark, 'object:state-changed:showing',
                                                                         'notification') or
                          desktop.heard_since(mark, 'object:announcement', 'frame'))
    if spoken[2] != 'DP lost 36, rank AA, 93.45 percent':
        fail('the %s says "%s"' % (spoken[1], spoken[2]))

    # Compare by the typed name and Enter while the name completion shows.
    xdotool('key', '--clearmodifiers', 'alt+m', 'alt+m', 'Return')
    desktop.poll('the comparison dialog', lambda: window('search', '--name', 'Open for comparison'))
    name_field = desktop.poll('the name field focused', lambda: focused(find(app, 'text', 'File name:')))
    mark = len(desktop.events)
    xdotool('type', '--delay', '100', 'friend.txt')
    desktop.poll('the name typed', lambda: name_field.queryText().getText(0, -1) == 'friend.txt')
    desktop.poll('the name completion', lambda: desktop.heard_since(mark, 'object:state-changed:showing', 'list'))
    mark = len(desktop.events)
    xdotool('key', 'Return')
    desktop.poll('the main window active again', lambda: desktop.heard_since(mark, 'window:activate', 'frame'))
    # the list gave up its name with its hint as it first lost the focus
    desktop.poll('a focus event for the list',
                 lambda: desktop.heard_since(mark, 'object:state-changed:focused', 'tree', ''))
    desktop.poll('the window manager agreeing', lambda: window('getactivewindow') == main_window)
    table = list_.queryTable()
    desktop.poll('the comparison shown', lambda: table.getColumnHeader(5).name == 'Diff.')

    # An Insert, then a sort by DP lost: what a reader reads in the list is what the file holds.
    xdotool('key', '--clearmodifiers', 'alt+g')
    xdotool('type', '--delay', '100', '12')
    xdotool('key', '--clearmodifiers', 'alt+i')
    today = datetime.date.today().strftime('%d/%m/%Y')
    scores = os.path.join(work, 'Scores.txt')
    desktop.poll('the score saved', lambda: today in read(scores))
    xdotool('key', '--clearmodifiers', 'ctrl+5')
    desktop.poll('the list sorted by DP lost', lambda: table.getAccessibleAt(0, 4).name == 'DP lost 10')
    check_cells(table, score_file(scores), today)


def check_cells(table, records, today):
    if table.nRows != 256 or len(records) != 256:
        fail('%d rows, %d records' % (table.nRows, len(records)))
    previous = -1
    for row in range(table.nRows):
        title, date, _, _, dp = (table.getAccessibleAt(row, column).name for column in range(5))
        if title not in records:
            fail('row %d: "%s" is no chart of Scores.txt' % (row, title))
        file_date, file_dp = records[title]
        # each cell says its column, as a reader reads it
        expected = ('no score', 'all DP lost') if file_date == '00/00/0000' else ('date ' + file_date, 'DP lost ' + file_dp)
        if (date, dp) != expected:
            fail('row %d, %s: the list reads %s, Scores.txt says %s' % (row, title, (date, dp), expected))
        if int(file_dp) < previous:
            fail('row %d, %s: not in the order of DP lost' % (row, title))
        previous = int(file_dp)
    if records['.59'] != (today, '12'):
        fail('the inserted score is %s' % (records['.59'],))


if __name__ == '__main__':
    main()
