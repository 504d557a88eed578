"""A settings path that cannot be read: a message box for each load that fails, each
dismissed with Return; then the program plays the sound of a fresh installation, survives
the key's release, and leaves the path as it found it. A broken line of the file is named
once and the program starts."""

import os
import stat
import time
import unittest

import harness

ERROR_BOX = 'エラー'
ERROR_TITLE = '^%s$' % ERROR_BOX
FAILED_LOADS = 2  # the tuning, then the first preset
COMPARED_BLOCKS = 30


def unreadable_file(path):
    with open(path, 'w') as f:
        f.write('[SETUP]\nTUNING=4500\n')
    os.chmod(path, stat.S_IWUSR)


PATHS = [
    ('a directory', os.mkdir),
    ('a FIFO', os.mkfifo),
    ('a link to a device', lambda path: os.symlink(os.devnull, path)),
    ('a file without read permission', unreadable_file),
]


def describe(path):
    """What lies at the path, as far as a replacement would change it."""
    st = os.lstat(path)
    target = os.readlink(path) if stat.S_ISLNK(st.st_mode) else None
    return st.st_ino, st.st_mode, st.st_size, target


class UnreadableSettingsPath(unittest.TestCase):
    def test_the_program_plays_the_defaults(self):
        for what, make in PATHS:
            with self.subTest(what):
                if what.endswith('read permission') and os.geteuid() == 0:
                    self.skipTest('root reads a file whatever its permission bits')
                harness.allowing_an_underrun(lambda: self.start_and_play(make))

    def start_and_play(self, make):
        with harness.Session(x=True, pulse=True) as session:
            program, box, home = session.start_morvane(make, first_window=ERROR_TITLE)
            ini = os.path.join(home, 'morvane.ini')
            before = describe(ini)
            boxes = {box}
            for shown in range(FAILED_LOADS):
                session.run(['xdotool', 'key', 'Return'])
                if shown + 1 < FAILED_LOADS:
                    self.next_box(session, program, boxes)
            window = session.wait_for_window(program, '^Morvane$')
            self.assertEqual(self.visible_boxes(session, program), set())
            session.run(['xdotool', 'windowfocus', '--sync', window])

            with session.capture() as capture:
                session.run(['xdotool', 'keydown', '52'])  # Z
                capture.wait_for_sound(COMPARED_BLOCKS * harness.BLOCK)
                session.run(['xdotool', 'keyup', '52'])
            time.sleep(0.5)
            self.assertIsNone(program.poll(), 'the program ended at the release')
            harness.find_reference(session.render('on 1\nrender %d\n' % COMPARED_BLOCKS),
                                   capture.samples)

            session.click(window, 'exit')
            self.assertEqual(program.wait(10), 0)
            self.assertEqual(describe(ini), before)

    def visible_boxes(self, session, program):
        # xdotool's title search is not to be trusted with Japanese titles (it has been seen
        # to give the main window); each title found is read back.
        windows = session.run(['xdotool', 'search', '--onlyvisible', '--pid', str(program.pid),
                               '--name', '.'], check=False).stdout.split()
        return {window for window in windows
                if session.run(['xdotool', 'getwindowname', window],
                               check=False).stdout.strip() == ERROR_BOX}

    def next_box(self, session, program, seen):
        """The next message box, a window not shown before; it gets the keyboard."""
        found = []

        def shown():
            if program.poll() is not None:
                raise harness.E2eError('the program ended (status %d)' % program.returncode)
            found[:] = self.visible_boxes(session, program) - seen
            return bool(found)

        harness.wait_until(shown, 'the next message box')
        seen.add(found[0])
        session.run(['xdotool', 'windowfocus', '--sync', found[0]])
        return found[0]


class BrokenBindingLine(unittest.TestCase):
    """A line of the MIDI section that binds nothing is named once on standard error, and
    the program starts as usual."""

    def test_it_is_named_once(self):
        with harness.Session(x=True, pulse=True) as session:
            program, window, home = session.start_morvane(
                '; my knobs\n[MIDI]\nCC74=NOT_A_KEY\nCC20=VCF_CUTOFF\n')
            session.click(window, 'exit')
            self.assertEqual(program.wait(10), 0)
            with open(os.path.join(home, 'output'), encoding='utf-8') as f:
                named = [line for line in f if 'CC74=NOT_A_KEY' in line]
            self.assertEqual(len(named), 1, named)
            self.assertIn('section MIDI', named[0])


if __name__ == '__main__':
    unittest.main()
