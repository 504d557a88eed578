"""The program on a user's desktop: a second start tells that the first one was brought to
the front, and the window speaks the user's language."""

import os
import subprocess
import unittest

import harness


class SecondStart(unittest.TestCase):
    def test_second_start_says_the_first_window_was_brought_to_the_front(self):
        with harness.Session(x=True, pulse=True) as session:
            program, window, home = session.start_morvane()
            second = session.run([os.path.join(home, 'morvane')], timeout=20)
            self.assertEqual(second.returncode, 0)
            self.assertEqual(second.stderr, 'morvane: Morvane is already running; its window '
                                            'was brought to the front\n')
            self.assertIsNone(program.poll(), 'the first start ended')


if __name__ == '__main__':
    unittest.main()
