"""The sound server goes away while a note is held, and comes back: the program says so once
and plays on by itself, without a restart."""

import glob
import os
import time
import unittest

import harness

ERROR_CAPTION = 'エラー'
# Long enough for the boxes of every buffer the dead server sent back to have stacked up,
# had each of them one of its own.
BOXES_SETTLE = 2.0
# The program tries the server again once a second and starts with half a second of
# silence; this leaves room for a busy machine.
BACK_WITHIN = 5.0
# The middle of the record button, in the window.
RECORD_BUTTON = ['484', '364']


def sounding(samples):
    return harness.first_sound(samples) is not None


def error_boxes(session, program):
    """The program's visible error boxes, found by their exact caption: xdotool's own name
    pattern does not match Japanese reliably."""
    windows = session.run(['xdotool', 'search', '--onlyvisible', '--pid', str(program.pid),
                           '--name', '.'], check=False).stdout.split()
    return [window for window in windows
            if session.run(['xdotool', 'getwindowname', window],
                           check=False).stdout.strip() == ERROR_CAPTION]


def dismiss(session, program, window):
    """OK on the error box, and the keyboard back to the main window."""
    (box,) = error_boxes(session, program)
    session.run(['xdotool', 'windowfocus', '--sync', box])
    session.run(['xdotool', 'key', 'Return'])
    harness.wait_until(lambda: not error_boxes(session, program), 'the box to go')
    session.run(['xdotool', 'windowfocus', '--sync', window])


class DeviceLostAndBack(unittest.TestCase):
    def test_one_box_for_the_loss_and_the_held_note_sounds_again(self):
        # What happens to the server: killed outright, or ended as a log-out would end it.
        for what, end in [('killed', lambda process: process.kill()),
                          ('terminated', lambda process: process.terminate())]:
            with self.subTest(what), harness.Session(x=True, pulse=True) as session:
                program, window, home = session.start_morvane()
                pulse = session.server('pulse')
                session.run(['xdotool', 'keydown', '52'])  # Z, held to the end
                with session.capture() as before:
                    time.sleep(1.0)
                self.assertTrue(sounding(before.samples), 'no sound before the loss')

                end(pulse.process)
                pulse.process.wait()
                harness.wait_until(lambda: error_boxes(session, program), 'an error box')
                time.sleep(BOXES_SETTLE)
                self.assertEqual(len(error_boxes(session, program)), 1, 'one box for one loss')

                # The panel still answers, and a recording without a device says so instead
                # of writing an empty file.
                dismiss(session, program, window)
                session.run(['xdotool', 'mousemove', '--window', window] + RECORD_BUTTON +
                            ['click', '1'])
                harness.wait_until(lambda: error_boxes(session, program), 'the recording box')
                self.assertEqual(glob.glob(os.path.join(home, '*.wav')), [])
                dismiss(session, program, window)

                pulse.start()  # in the same private directory, at the same address
                with session.capture() as after:
                    time.sleep(BACK_WITHIN)
                self.assertIsNone(program.poll(), 'the program ended')
                self.assertTrue(sounding(after.samples), 'no sound once the server was back')
                last_second = after.samples[-2 * harness.RATE:]
                self.assertTrue(sounding(last_second), 'the sound stopped again')
                session.run(['xdotool', 'keyup', '52'])


if __name__ == '__main__':
    unittest.main()
