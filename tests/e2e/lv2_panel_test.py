"""The plugin's own panel in a host: the project's test host (lilv for the plugin, the UI
library opened with dlopen, the external-UI host feature) shows the panel on a virtual
display, and a person uses it with XTEST. The host runs the plugin at 22050 Hz in 441-frame
blocks at the clock's pace and says what the UI wrote, at which frame it delivered the UI's
MIDI, and which keys the plugin told the UI are sounding."""

import array
import ctypes
import os
import queue
import re
import signal
import subprocess
import threading
import time
import unittest

import harness

TITLE = '^Morvane$'
URI = 'urn:morvane:synth'
# The right arrow of the cutoff slider: the VCF group at (328, 208), the bar 80 into it, 97
# wide, its row 16 down, 9 high.
CUTOFF_UP = ('501', '228')
Z = '52'  # the X keycode of the lowest white key, instrument key 1
F2 = '68'
# The keyboard below the panel, where a sounding key turns red.
KEYBOARD = (0, 321, 522, 140)
SOUNDING_RED = 0xFF0000
PRESETS = ('[PRESET0]\nWAVE1_TYPE=2\nVCF_CUTOFF=40\n'
           '[PRESET1]\nWAVE1_TYPE=3\nWAVE2_TYPE=0\nVCF_CUTOFF=70\nVCF_RESONANCE=80\n'
           'ENV_ATTACK=12\nMOD_TYPE=1\nWAVE2_OCTAVE=2\n')


class Host:
    """The test host with the plugin and its panel; its lines arrive on a queue."""

    def __init__(self, session):
        self.session = session
        self.output = os.path.join(session.directory, 'plugin.f32')
        with open(os.path.join(session.directory, 'host.log'), 'wb') as log:
            self.process = subprocess.Popen(
                [os.environ['MORVANE_LV2_UI_HOST'], os.environ['MORVANE_LV2_BUNDLE'],
                 self.output],
                env=session.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log,
                text=True, bufsize=1)
        session.programs.append(self.process)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.expect('ready')

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def say(self, line):
        self.process.stdin.write(line + '\n')
        self.process.stdin.flush()

    def expect(self, pattern, timeout=harness.START_TIMEOUT):
        """The first line that matches, the lines before it passed over."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise harness.E2eError('the host said no "%s"' % pattern)
            if line is None:
                raise harness.E2eError('the host ended before saying "%s"' % pattern)
            match = re.fullmatch(pattern, line)
            if match:
                return match

    def dump(self):
        """Every control input's value, by symbol."""
        self.say('dump')
        values = {}
        while True:
            match = self.expect(r'value (\S+) (\S+)|end')
            if match.group(0) == 'end':
                return values
            values[match.group(1)] = int(float(match.group(2)))

    def quit(self):
        self.say('quit')
        self.expect('bye')
        self.process.stdin.close()
        self.assert_ended()

    def assert_ended(self):
        if self.process.wait(timeout=harness.STOP_TIMEOUT) != 0:
            raise harness.E2eError('the host ended with status %d' % self.process.returncode)

    def samples(self):
        """What the plugin played, as the engine's 16-bit samples (exact at 22050 Hz)."""
        floats = array.array('f')
        with open(self.output, 'rb') as f:
            floats.frombytes(f.read())
        return array.array('h', (round(v * 32768) for v in floats)).tobytes()


class Screen:
    """Pixels of the virtual display, read through Xlib."""

    def __init__(self, display):
        self.x = ctypes.CDLL('libX11.so.6')
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XGetImage.restype = ctypes.c_void_p
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XGetPixel.restype = ctypes.c_ulong
        self.x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x.XDestroyImage.argtypes = [ctypes.c_void_p]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(display.encode())
        if not self.display:
            raise harness.E2eError('cannot open the display ' + display)

    def close(self):
        self.x.XCloseDisplay(self.display)

    def count(self, window, rect, colour):
        left, top, width, height = rect
        z_pixmap, all_planes = 2, 0xFFFFFFFF
        image = self.x.XGetImage(self.display, int(window), left, top, width, height,
                                 all_planes, z_pixmap)
        if not image:
            raise harness.E2eError('cannot read the window\'s pixels')
        try:
            return sum(1 for y in range(height) for x in range(width)
                       if self.x.XGetPixel(image, x, y) & 0xFFFFFF == colour)
        finally:
            self.x.XDestroyImage(image)


class Panel(unittest.TestCase):
    def start(self, session, settings=None):
        if settings is not None:
            folder = os.path.join(session.env['XDG_CONFIG_HOME'], 'morvane')
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, 'morvane.ini'), 'w') as f:
                f.write(settings)
        host = Host(session)
        window = self.find_panel(session, host)
        session.run(['xdotool', 'windowfocus', '--sync', window])
        return host, window

    def find_panel(self, session, host):
        """The panel's window, which a process of the host (a Host, or a Popen) shows."""
        process = getattr(host, 'process', host)
        found = []

        def shown():
            if process.poll() is not None:
                raise harness.E2eError('the host ended before the panel showed')
            found[:] = session.run(['xdotool', 'search', '--onlyvisible', '--name', TITLE],
                                   check=False).stdout.split()
            return bool(found)

        harness.wait_until(shown, 'the panel')
        return found[0]

    def click(self, session, window, point):
        session.run(['xdotool', 'mousemove', '--window', window, *point, 'click', '1'])

    def test_a_slider_moves_its_port_and_the_port_moves_the_slider(self):
        with harness.Session(x=True) as session:
            host, window = self.start(session)
            self.click(session, window, CUTOFF_UP)
            moved = int(float(host.expect(r'port vcf_cutoff (\S+)').group(1)))
            # The host moves the port far away: the next click goes one up from there.
            host.say('set vcf_cutoff 80')
            time.sleep(0.5)
            self.click(session, window, CUTOFF_UP)
            self.assertEqual(host.expect(r'port vcf_cutoff (\S+)').group(1), '81')
            self.assertNotEqual(moved, 80)
            # A panel that reads nothing for a while (stopped) misses none of the host's last
            # values, however many came: far more than its socket holds.
            panel = int(session.run(['xdotool', 'getwindowpid', window]).stdout)
            os.kill(panel, signal.SIGSTOP)
            for value in list(range(3000)) + [60]:
                host.say('set vcf_cutoff %d' % (value % 100))
            host.say('frames')
            host.expect(r'frames \d+')
            os.kill(panel, signal.SIGCONT)
            time.sleep(0.5)
            self.click(session, window, CUTOFF_UP)
            self.assertEqual(host.expect(r'port vcf_cutoff (\S+)').group(1), '61')
            host.quit()

    def test_midi_learn_from_a_sliders_menu(self):
        with harness.Session(x=True) as session:
            host, window = self.start(session)
            session.run(['xdotool', 'mousemove', '--window', window, *CUTOFF_UP, 'click', '3'])
            time.sleep(0.5)
            session.run(['xdotool', 'key', 'Down', 'Return'])  # "MIDI学習", the first item
            host.expect('notify urn:morvane:LearnArmed')
            host.say('midi b01440')  # CC20, not bound by default
            host.expect('notify urn:morvane:Learnt')
            host.expect('notify urn:morvane:Bindings')
            host.quit()

    def test_a_key_pressed_in_the_panel_plays_as_the_offline_rendering(self):
        with harness.Session(x=True) as session:
            host, window = self.start(session)
            screen = Screen(session.env['DISPLAY'])
            self.assertEqual(screen.count(window, KEYBOARD, SOUNDING_RED), 0)
            session.run(['xdotool', 'keydown', Z])
            down = int(host.expect(r'midi (\d+) 902d7f').group(1))
            self.assertEqual(int(host.expect(r'keys ([1-9]\d*)').group(1)), 1 << 1)
            harness.wait_until(lambda: screen.count(window, KEYBOARD, SOUNDING_RED) > 0,
                               'the key lit')
            session.run(['xdotool', 'keyup', Z])
            up = int(host.expect(r'midi (\d+) 802d00').group(1))
            time.sleep(1.0)
            host.quit()
            screen.close()
            played = host.samples()
            blocks = len(played) // 2 // harness.BLOCK
            self.assertGreater(blocks, up // harness.BLOCK + 40)
            # The host delivers the UI's MIDI at the start of a block: between two blocks,
            # as the score's lines are applied.
            score = ('render %d\non 1\nrender %d\noff 1\nrender %d\n'
                     % (down // harness.BLOCK, (up - down) // harness.BLOCK,
                        blocks - up // harness.BLOCK))
            reference = session.render(score)
            self.assertTrue(any(played), 'the plugin was silent')
            self.assertEqual(harness.find_reference(reference, played[:len(reference)]), 0)

    def test_f2_sets_every_port_to_the_second_preset(self):
        with harness.Session(x=True) as session:
            host, window = self.start(session, PRESETS)
            before = host.dump()
            session.run(['xdotool', 'key', F2])
            # The keys the preset lacks take their defaults, which a fresh instance has.
            expected = dict(before, wave1_type=3, wave2_type=0, vcf_cutoff=70, vcf_resonance=80,
                            env_attack=12, mod_type=1, wave2_octave=2)
            host.expect('port env_attack 12')
            time.sleep(0.5)
            self.assertEqual(host.dump(), expected)
            host.quit()

    def test_a_killed_panel_reports_the_ui_closed_and_the_plugin_runs_on(self):
        with harness.Session(x=True) as session:
            host, window = self.start(session)
            panel = int(session.run(['xdotool', 'getwindowpid', window]).stdout)
            os.kill(panel, signal.SIGKILL)
            host.expect('closed')
            self.assertFalse(os.path.exists('/proc/%d' % panel), 'the panel was not reaped')
            host.say('frames')
            before = int(host.expect(r'frames (\d+)').group(1))
            time.sleep(0.5)
            host.say('frames')
            self.assertGreater(int(host.expect(r'frames (\d+)').group(1)), before)
            # Shown again, then hidden: the panel's process is gone, none left behind.
            host.say('show')
            window = self.find_panel(session, host)
            panel = int(session.run(['xdotool', 'getwindowpid', window]).stdout)
            host.say('hide')
            host.expect('hidden')
            self.assertFalse(os.path.exists('/proc/%d' % panel), 'the panel was left behind')
            host.quit()



class JalvPanel(unittest.TestCase):
    """A host of the distribution: jalv's console front end shows the panel through the
    show interface when asked to (-s) and dumps what the plugin and the UI say (-d)."""

    def test_jalv_shows_the_panel_and_relays_both_ways(self):
        with harness.Session(x=True, jack=True) as session:
            session.env['LV2_PATH'] = os.path.dirname(os.environ['MORVANE_LV2_BUNDLE'])
            dump = os.path.join(session.directory, 'jalv.log')
            with open(dump, 'wb') as log:
                jalv = subprocess.Popen(['stdbuf', '-oL', 'jalv', '-s', '-d', URI],
                                        env=session.env, stdin=subprocess.PIPE, stdout=log,
                                        stderr=log)
            session.programs.append(jalv)
            window = Panel.find_panel(self, session, jalv)
            panel = int(session.run(['xdotool', 'getwindowpid', window]).stdout)
            session.run(['xdotool', 'windowfocus', '--sync', window])
            session.run(['xdotool', 'keydown', Z])

            def dumped(text):
                with open(dump, encoding='utf-8', errors='replace') as f:
                    return text in f.read()

            harness.wait_until(lambda: dumped('"902D7F"'), 'the note from the panel')
            harness.wait_until(lambda: dumped('<urn:morvane:sounding> "2"'), 'the key sounding')
            session.run(['xdotool', 'keyup', Z])
            harness.wait_until(lambda: dumped('"802D00"'), 'the note\'s end from the panel')
            # The host's first signal ends the UI, which ends the panel and reaps it; jalv
            # then waits for a second signal before it ends itself.
            jalv.terminate()
            harness.wait_until(lambda: not os.path.exists('/proc/%d' % panel),
                               'the panel to end with the UI')
            jalv.terminate()
            self.assertEqual(jalv.wait(timeout=harness.STOP_TIMEOUT), 0)


if __name__ == '__main__':
    unittest.main()
