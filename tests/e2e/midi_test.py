"""MIDI played to the synthesizer, live.

Through JACK: a client of the test sends notes, the sustain pedal, the mod wheel, a controller
and a program change at chosen frames to "midi_in" and records "out" in the same process cycle;
the recording is bit for bit the offline rendering of the same events written as a MIDI file.
Without an ALSA sequencer the program says so in one line and plays on."""

import os
import struct
import subprocess
import threading
import time
import unittest

import jack

import harness

RATE, PERIOD = harness.RATE, harness.BLOCK

SETTINGS = ('[PRESET0]\nWAVE1_TYPE=2\nVCF_CUTOFF=40\n'
            '[PRESET1]\nWAVE1_TYPE=1\nVCF_CUTOFF=70\nVCF_RESONANCE=80\nLFO_DEPTH=60\n'
            '[MIDI]\nAT=VCF_INTENSITY\nVELOCITY_CUTOFF=50\n')

# (period, frame in it, message). An event at frame f goes before the first block starting at
# or after it: at frame 0 before that period's block, later in the period before the next one.
# The program change and the controller land while a note sounds, each at its own block.
EVENTS = [
    (10, 0, [0x90, 69, 100]),    # A, 440 Hz
    (12, 0, [0x90, 30, 40]),     # below the keys: a voice at its own pitch, soft
    (14, 100, [0x90, 100, 127]),  # above them
    (16, 0, [0xB0, 101, 0]),     # RPN 0: the bend range, 7 semitones
    (16, 0, [0xB0, 100, 0]),
    (16, 0, [0xB0, 6, 7]),
    (17, 0, [0xE0, 0, 80]),      # a bend sweep
    (18, 0, [0xE0, 0, 100]),
    (19, 0, [0xE0, 0, 30]),
    (20, 0, [0xC0, 1]),          # program change: preset 2
    (22, 0, [0xD0, 90]),         # aftertouch, bound to the filter intensity
    (25, 10, [0xB0, 74, 100]),   # cutoff, by the default binding
    (30, 200, [0x90, 72, 64]),
    (35, 0, [0x80, 30, 0]),
    (36, 0, [0x80, 100, 0]),
    (45, 0, [0xB0, 64, 127]),    # pedal down
    (50, 300, [0x80, 69, 0]),    # held back
    (55, 0, [0xB0, 1, 64]),      # the wheel holds the LFO gate
    (60, 0, [0xB0, 74, 20]),
    (65, 0, [0xB0, 121, 0]),     # reset: bend centred, pedal up (69 goes up), wheel 0
    (70, 100, [0x90, 72, 0]),    # velocity 0: a note-off
    (80, 0, [0xB0, 64, 0]),
    (90, 0, [0xB0, 1, 0]),
]
LAST_PERIOD = 90
TAIL = '0.4'              # seconds rendered after the end
RECORDED_PERIODS = 150    # the rendering is 110 blocks; room for the latency


def variable_length(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(groups))


def midi_file(events, end):
    """Format 0 with one tick a frame: 22050 ticks a quarter note of one second."""
    track = variable_length(0) + bytes([0xFF, 0x51, 3]) + (1000000).to_bytes(3, 'big')
    now = 0
    for period, frame, message in events:
        at = period * PERIOD + frame
        track += variable_length(at - now) + bytes(message)
        now = at
    track += variable_length(end - now) + bytes([0xFF, 0x2F, 0])
    return (b'MThd' + struct.pack('>IHHH', 6, 0, 1, RATE) +
            b'MTrk' + struct.pack('>I', len(track)) + track)



class Player:
    """A JACK client that plays the events from the period it is armed in and records what
    comes back, as int16 samples."""

    def __init__(self, server, events=EVENTS, periods=RECORDED_PERIODS):
        self.client = jack.Client('morvane-e2e-midi', no_start_server=True, servername=server)
        self.midi = self.client.midi_outports.register('midi_out')
        self.audio = self.client.inports.register('in')
        self.by_period = {}
        self.periods = periods
        for period, frame, message in events:
            self.by_period.setdefault(period, []).append((frame, bytes(message)))
        self.armed = False
        self.period = None
        self.recorded = []
        self.done = threading.Event()
        self.client.set_process_callback(self.process)

    def process(self, frames):
        self.midi.clear_buffer()
        if not self.armed or self.done.is_set():
            return
        self.period = 0 if self.period is None else self.period + 1
        for frame, message in self.by_period.get(self.period, []):
            self.midi.write_midi_event(frame, message)
        self.recorded.append(bytes(self.audio.get_buffer()))
        if len(self.recorded) == self.periods:
            self.done.set()

    def samples(self):
        floats = b''.join(self.recorded)
        values = struct.unpack('<%df' % (len(floats) // 4), floats)
        # Exact: the program's samples are int16 divided by 32768.
        return struct.pack('<%dh' % len(values), *(round(v * 32768) for v in values))


def burst(moves):
    """The cutoff swept by many moves at frames spread over one period."""
    return [(0xB0, 74, i % 128) for i in range(moves)]


def spread(period, messages, last_frame=PERIOD - 1):
    return [(period, i * last_frame // len(messages), list(m)) for i, m in enumerate(messages)]


# However many messages a period brings, none is lost: the note-off after them releases the
# note, and the panel follows the sweep without taking the sound back.
BURSTS = {
    '600 moves and a note-off in one period': (
        [(10, 0, [0x90, 69, 100])] + spread(20, burst(600), 439) + [(20, 440, [0x80, 69, 0])],
        21, 100),
    'a steady 400 a period for 3 s': (
        [(10, 0, [0x90, 69, 100])] + [e for p in range(11, 161) for e in spread(p, burst(400))] +
        [(160, 440, [0x80, 69, 0])],
        161, 240),
}


class Midi(unittest.TestCase):
    def test_jack_midi_plays_as_the_offline_rendering_of_its_file(self):
        harness.allowing_an_underrun(self.play_through_jack)

    def test_no_message_of_a_burst_is_lost(self):
        for what, (events, last, periods) in BURSTS.items():
            with self.subTest(what):
                harness.allowing_an_underrun(lambda: self.play_through_jack(events, last, periods))

    def play_through_jack(self, events=EVENTS, last_period=LAST_PERIOD, periods=RECORDED_PERIODS):
        with harness.Session(x=True, jack=True) as session:
            program, _, home = session.start_morvane(
                SETTINGS, args=['--audio=jack', '--no-connect'])
            player = Player(session.env['JACK_DEFAULT_SERVER'], events, periods)
            with player.client:
                player.client.connect(player.midi, 'Morvane:midi_in')
                player.client.connect('Morvane:out', player.audio)
                player.armed = True
                self.assertTrue(player.done.wait(30), 'the recording did not finish')
            self.assertIsNone(program.poll(), 'the program ended')
            song = os.path.join(session.directory, 'song.mid')
            with open(song, 'wb') as f:
                f.write(midi_file(events, last_period * PERIOD))
            reference = subprocess.run(
                [os.environ['MORVANE_RENDER'], '--ini', os.path.join(home, 'morvane.ini'),
                 '--preset', '0', '--tail', TAIL, song, '-'],
                capture_output=True, check=True, env=session.env, timeout=60).stdout
            harness.find_reference(reference, player.samples())

    def test_a_source_ticked_in_the_midi_window_plays_and_is_connected_again(self):
        harness.allowing_an_underrun(self.tick_a_source)

    def tick_a_source(self):
        events = [(10, 0, [0x90, 69, 100]), (30, 0, [0x80, 69, 0])]
        source = 'morvane-e2e-midi:midi_out'
        with harness.Session(x=True, jack=True) as session:
            server = session.env['JACK_DEFAULT_SERVER']
            player = Player(server, events, 60)
            with player.client:
                program, window, home = session.start_morvane(
                    SETTINGS, args=['--audio=jack', '--no-connect'])
                session.click(window, 'midi')
                midi_window = session.wait_for_window(program, '^MIDI設定$')
                # The channel box has the keyboard; after it come the three playing
                # boxes, then the sources' list, whose first (and only) source a space
                # ticks.
                session.run(['xdotool', 'windowfocus', '--sync', midi_window])
                session.run(['xdotool', 'key', 'Tab', 'Tab', 'Tab', 'Tab', 'space'])

                def connected():
                    return [p.name for p in player.client.get_all_connections(player.midi)]
                harness.wait_until(lambda: connected() == ['Morvane:midi_in'],
                                   'the source connected', 10)
                with open(os.path.join(home, 'morvane.ini')) as f:
                    self.assertIn('SOURCE1=' + source, f.read())
                player.client.connect('Morvane:out', player.audio)
                player.armed = True
                self.assertTrue(player.done.wait(30), 'the recording did not finish')
            # The source goes away and comes back: it is connected again by itself.
            again = jack.Client('morvane-e2e-midi', no_start_server=True, servername=server)
            port = again.midi_outports.register('midi_out')
            with again:
                harness.wait_until(
                    lambda: [p.name for p in again.get_all_connections(port)] ==
                    ['Morvane:midi_in'], 'the source connected again', 10)
            self.assertIsNone(program.poll(), 'the program ended')
            song = os.path.join(session.directory, 'song.mid')
            with open(song, 'wb') as f:
                f.write(midi_file(events, 30 * PERIOD))
            reference = subprocess.run(
                [os.environ['MORVANE_RENDER'], '--ini', os.path.join(home, 'morvane.ini'),
                 '--preset', '0', '--tail', TAIL, song, '-'],
                capture_output=True, check=True, env=session.env, timeout=60).stdout
            harness.find_reference(reference, player.samples())

    def test_without_a_sequencer_one_line_says_so_and_the_program_plays_on(self):
        if os.path.exists('/dev/snd/seq'):
            self.skipTest('this machine has an ALSA sequencer')
        with harness.Session(x=True, pulse=True) as session:
            program, _, home = session.start_morvane(SETTINGS)
            time.sleep(1)
            self.assertIsNone(program.poll(), 'the program ended')
            with open(os.path.join(home, 'output')) as f:
                lines = [line for line in f if 'sequencer' in line]
            self.assertEqual(len(lines), 1, lines)
            self.assertTrue(lines[0].startswith('morvane: no ALSA sequencer for MIDI input'),
                            lines[0])


if __name__ == '__main__':
    unittest.main()
