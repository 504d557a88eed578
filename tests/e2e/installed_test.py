"""An install into a prefix the user can write, as the README suggests (--prefix ~/.local):
the installed program keeps its settings file in $XDG_CONFIG_HOME/morvane/ and its
recordings in $XDG_MUSIC_DIR, and nothing beside itself, though it could write there."""

import glob
import os
import subprocess
import time
import unittest

import harness


class InstalledProgram(unittest.TestCase):
    def test_files_go_to_the_xdg_places(self):
        with harness.Session(x=True, pulse=True) as session:
            prefix = os.path.join(session.directory, 'local')
            subprocess.run([os.environ['CMAKE'], '--install', os.environ['MORVANE_BUILD_DIR'],
                            '--prefix', prefix], check=True, stdout=subprocess.DEVNULL)
            bin_directory = os.path.join(prefix, 'bin')
            music = os.path.join(session.directory, 'music')
            session.env['XDG_MUSIC_DIR'] = music
            program = session.start([os.path.join(bin_directory, 'morvane')])
            window = session.wait_for_window(program, '^Morvane$')

            session.click(window, 'tuning up')
            session.click(window, 'record')
            time.sleep(0.5)
            session.click(window, 'record')
            harness.wait_until(lambda: glob.glob(os.path.join(music, '*.wav')), 'a recording')
            session.click(window, 'exit')
            self.assertEqual(program.wait(10), 0)

            with open(os.path.join(session.env['XDG_CONFIG_HOME'], 'morvane', 'morvane.ini')) as f:
                self.assertIn('TUNING=4402', f.read())
            self.assertEqual(len(glob.glob(os.path.join(music, '*.wav'))), 1)
            self.assertEqual(sorted(os.listdir(bin_directory)), ['morvane', 'morvane-render'])


if __name__ == '__main__':
    unittest.main()
