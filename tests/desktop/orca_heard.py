"""What Orca says of the program, read from Orca's debug log, step by step of a keyboard session.

Run by run_orca.sh inside a private X display with a window manager and a private session bus:
    orca_heard.py PROGRAM WORKDIR
Orca's speech goes nowhere; its log keeps every utterance as "SPEECH OUTPUT". Every wait has a
deadline, and Orca and the program are ended however the run ends.
"""
import os
import re
import subprocess
import sys
import time

import pyatspi

HERE = os.path.dirname(os.path.abspath(__file__))
UTTERANCE = re.compile(r"SPEECH OUTPUT: '(.*?)'(?=(?: voice=\S+)? ?\{|$)")
# Orca's key echo ("left alt ", "3 ") ends in a blank; the program's words never do.
MOST_WORDS_BACK_IN_THE_LIST = 13  # the row's six cells, first


def fail(message):
    print('FAIL: ' + message)
    sys.exit(1)


class Orca:
    def __init__(self, log):
        self.log = log
        self.process = subprocess.Popen([sys.executable, os.path.join(HERE, 'orca_logged.py'), log],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def said(self):
        """Every utterance so far but Orca's key echo."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding='utf-8', errors='replace') as file:
            spoken = [match.group(1) for match in UTTERANCE.finditer(file.read())]
        return [words for words in spoken if not words.endswith(' ')]

    def wait_for(self, what, mark, condition, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            since = self.said()[mark:]
            if any(condition(words) for words in since):
                return since
            time.sleep(0.1)
        fail('%s within %d s; Orca said: %s' % (what, seconds, self.said()[mark:][-12:]))

    def quiet_then(self, mark, seconds=1.5):
        """What was said since the mark, once Orca has been quiet for a while."""
        count = -1
        while count != len(self.said()):
            count = len(self.said())
            time.sleep(seconds)
        return self.said()[mark:]


def key(*keys):
    subprocess.run(['xdotool', 'key', '--clearmodifiers', '--delay', '100', *keys], check=True)


def words(utterances):
    return sum(len(utterance.split()) for utterance in utterances)


def main():
    program, work = sys.argv[1], sys.argv[2]
    with open(os.path.join(work, 'Scores.txt'), 'w') as file:
        file.write('ABSOLUTE\n06/09/2005\n10\n----------\n')
    pyatspi.Registry.getDesktop(0)  # starts the accessibility bus before Orca looks for it
    orca = Orca(os.path.join(work, 'orca.log'))
    child = None
    try:
        orca.wait_for('Orca ready', 0, lambda said: said.startswith('Screen reader on'), 60)
        environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', QT_QPA_PLATFORM='xcb')
        child = subprocess.Popen([program], cwd=work, env=environment)
        orca.wait_for('the list at start', 0, lambda said: 'current row:' in said, 30)
        run(orca)
        key('alt+F4')
        if child.wait(timeout=30) != 0:
            fail('the program ended with status %d' % child.returncode)
    finally:
        for process in (child, orca.process):
            if process is not None and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
    print('PASS')


def field_taken(orca, keys, name, number):
    """The field reached by the keys is read once, with its prefilled number whole and selected."""
    mark = len(orca.said())
    key(*keys)
    orca.wait_for('the %s field' % name, mark, lambda said: said == name + ' text.')
    heard = orca.quiet_then(mark)
    numbers = [said for said in heard if said.split()[0].rstrip('.').isdigit()]
    if numbers != [number + ' selected.']:
        fail('%s: its number was read as %s: %s' % (name, numbers, heard))
    print('after %s, %s: %s' % ('+'.join(keys), name, heard))


def run(orca):
    orca.quiet_then(0)
    subprocess.run(['xdotool', 'type', '--delay', '100', 'ABS'], check=True)  # the list jumps to ABSOLUTE
    orca.quiet_then(0)
    field_taken(orca, ['Return'], 'Great count', '10')
    field_taken(orca, ['alt+o'], 'OK freeze count', '0')
    mark = len(orca.said())
    key('alt+m')
    orca.wait_for('the Miss field by its count', mark, lambda said: said == 'Miss count text.')
    subprocess.run(['xdotool', 'type', '--delay', '100', '3'], check=True)
    key('alt+i')  # worse than the stored 10: the warning
    orca.wait_for('the warning', mark, lambda said: said == 'alert Warning.')
    orca.wait_for("the OK button's key", mark, lambda said: said.startswith('Alt+K. '))

    mark = len(orca.said())
    key('Return')
    orca.wait_for('the row after OK', mark, lambda said: said.endswith('percent.'))
    back = orca.quiet_then(mark)
    if not back or back[0] != 'ABSOLUTE.' or not back[-1].endswith('percent.'):
        fail('after OK the row was not read: %s' % back)
    if words(back) > MOST_WORDS_BACK_IN_THE_LIST:
        fail('after OK %d words, not at most %d: %s' % (words(back), MOST_WORDS_BACK_IN_THE_LIST, back))
    print('after OK: %s' % back)

    mark = len(orca.said())
    key('ctrl+5')
    orca.wait_for('the sort', mark, lambda said: said.startswith('sorted by'))
    sorted_by = orca.quiet_then(mark)
    if sorted_by != ['sorted by DP lost, ascending.']:
        fail('a sort said %s' % sorted_by)
    print('after a sort: %s' % sorted_by)
    noisy = [said for said in orca.said() if said.startswith('notification')]
    if noisy:
        fail('said with its role: %s' % noisy)
    # the comparison dialog, built hidden after the first frame, was never opened
    unseen = [said for said in orca.said() if 'Computer' in said or 'comparison dialog' in said]
    if unseen:
        fail('the hidden dialog was read: %s' % unseen)


if __name__ == '__main__':
    main()
