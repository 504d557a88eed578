"""MIDI played to the synthesizer, live.

Through JACK: a client of the test sends notes at several velocities and beyond the keys, RPN 0,
bend sweeps, the mod wheel, bound aftertouch, reset all controllers, the sustain pedal, a
controller, a program change and messages of a channel not listened to at chosen frames, most of
them inside the engine's blocks, to "midi_in" and records "out" in the same process cycle; the
recording is bit for bit the offline rendering of the same events written as a MIDI file with the
same settings file, each event applying at its own sample.
Without an ALSA sequencer the program says so in one line and plays on."""

import math
import os
import shutil
import struct
import subprocess
import threading
import time
import unittest

import jack

import harness

RATE, BLOCK = harness.RATE, harness.BLOCK

SETTINGS = ('[PRESET0]\nWAVE1_TYPE=2\nVCF_CUTOFF=40\n'
            '[PRESET1]\nWAVE1_TYPE=1\nVCF_CUTOFF=70\nVCF_RESONANCE=80\nLFO_DEPTH=60\n'
            '[MIDI]\nAT=VCF_INTENSITY\nVELOCITY_CUTOFF=50\nCHANNEL=1\n')


def bend_sweep(block, first, step, count, start, end):
    """The bend wheel from start to end in count steps, step samples apart."""
    values = [start + (end - start) * i // (count - 1) for i in range(count)]
    return [(block, first + i * step, [0xE0, v & 0x7F, v >> 7]) for i, v in enumerate(values)]


# (block, sample in it, message): the event applies before that engine sample, counted at
# 22050 Hz from the player's start; at another rate it is sent at the last frame that starts
# no later. Events of one sample apply in the order they are listed.
EVENTS = sorted([
    (10, 0, [0x90, 69, 100]),     # A, 440 Hz, on the grid
    (12, 57, [0x90, 30, 40]),     # below the keys: a voice at its own pitch, soft
    (13, 222, [0x91, 60, 127]),   # channel 2, not listened to: no sound, no cut
    (14, 100, [0x90, 100, 127]),  # above them
    (16, 3, [0xB0, 101, 0]),      # RPN 0 selected at one sample: the bend range, 7 semitones
    (16, 3, [0xB0, 100, 0]),
    (16, 4, [0xB0, 6, 7]),
    (20, 0, [0xC0, 1]),           # program change: preset 2
    (22, 250, [0xD0, 90]),        # aftertouch, bound to the filter intensity
    (25, 10, [0xB0, 74, 100]),    # cutoff, by the default binding
    (25, 300, [0xB1, 74, 0]),     # channel 2 again
    (26, 440, [0xB0, 20, 1]),     # an unbound controller, on the block's last sample
    (30, 200, [0x90, 72, 64]),
    (35, 1, [0x80, 30, 0]),
    (36, 0, [0x80, 100, 0]),
    (40, 9, [0x81, 60, 0]),
    (45, 333, [0xB0, 64, 127]),   # pedal down
    (50, 300, [0x80, 69, 0]),     # held back
    (55, 77, [0xB0, 1, 64]),      # the wheel holds the LFO gate
    (60, 0, [0xB0, 74, 20]),
    (65, 123, [0xB0, 121, 0]),    # reset: bend centred, pedal up (69 goes up), wheel 0
    (70, 100, [0x90, 72, 0]),     # velocity 0: a note-off
    (75, 5, [0x90, 52, 1]),       # the softest
    (80, 0, [0xB0, 64, 0]),
    (85, 400, [0x80, 52, 0]),
    (90, 0, [0xB0, 1, 0]),
] + bend_sweep(17, 30, 19, 40, 8192, 16383) + bend_sweep(19, 11, 7, 60, 16383, 2000),
    key=lambda event: event[0] * BLOCK + event[1])
LAST_BLOCK = 90
TAIL = '0.4'            # seconds rendered after the end


def recorded_seconds(last_block):
    """The rendering's length, and room for the latency (a period here)."""
    return last_block * BLOCK / RATE + float(TAIL) + 0.1


RECORDED_SECONDS = recorded_seconds(LAST_BLOCK)


def host_frame(block, sample, rate):
    """The last frame at the rate that starts no later than the engine sample: an event there
    applies before ceil(frame * 22050 / rate), that sample."""
    return (block * BLOCK + sample) * rate // RATE


def variable_length(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(groups))


def midi_file(events, last_block, rate=RATE):
    """Format 0 with one tick a frame at the rate, so that each event's time is its frame:
    quarter notes of rate / k ticks lasting 1 / k seconds, k the smallest whose division fits
    the header's 15 bits."""
    k = next(k for k in range(1, rate)
             if rate % k == 0 and 1000000 % k == 0 and rate // k < 0x8000)
    track = variable_length(0) + bytes([0xFF, 0x51, 3]) + (1000000 // k).to_bytes(3, 'big')
    now = 0
    for block, sample, message in events:
        at = host_frame(block, sample, rate)
        track += variable_length(at - now) + bytes(message)
        now = at
    track += variable_length(host_frame(last_block, 0, rate) - now) + bytes([0xFF, 0x2F, 0])
    return (b'MThd' + struct.pack('>IHHH', 6, 0, 1, rate // k) +
            b'MTrk' + struct.pack('>I', len(track)) + track)


def as_16_bit(value):
    """A float sample as the renderer writes it at the rate: at 22050 Hz the program's samples
    are int16 / 32768 and come back exactly; at others, the resampler's own rounding."""
    x = value * 32768
    return -32768 if x < -32767.5 else 32767 if x > 32766.5 else math.floor(0.5 + x)


class Player:
    """A JACK client that plays the events from the period it is armed in, each at its frame
    counted from there, and records what comes back, as int16 samples."""

    def __init__(self, server, events=EVENTS, seconds=RECORDED_SECONDS, rate=RATE):
        self.client = jack.Client('morvane-e2e-midi', no_start_server=True, servername=server)
        self.midi = self.client.midi_outports.register('midi_out')
        self.audio = self.client.inports.register('in')
        self.events = [(host_frame(block, sample, rate), bytes(message))
                       for block, sample, message in events]
        self.next = 0
        self.frames = int(seconds * rate)
        self.armed = False
        self.elapsed = 0  # frames since the period it was armed in
        self.recorded = []
        self.done = threading.Event()
        self.xruns = 0  # while recording
        self.client.set_process_callback(self.process)
        self.client.set_xrun_callback(self.xrun)

    def xrun(self, delay):
        if self.armed and not self.done.is_set():
            self.xruns += 1

    def process(self, frames):
        self.midi.clear_buffer()
        if not self.armed or self.done.is_set():
            return
        while self.next < len(self.events) and self.events[self.next][0] < self.elapsed + frames:
            frame, message = self.events[self.next]
            self.midi.write_midi_event(frame - self.elapsed, message)
            self.next += 1
        self.recorded.append(bytes(self.audio.get_buffer()))
        self.elapsed += frames
        if self.elapsed >= self.frames:
            self.done.set()

    def samples(self):
        floats = b''.join(self.recorded)
        values = struct.unpack('<%df' % (len(floats) // 4), floats)
        return struct.pack('<%dh' % len(values), *map(as_16_bit, values))


# The rendering's last frames at another rate come from the silence the resampler is flushed
# with, where a live player plays on: more than its delay is left out of the comparison.
FLUSHED_FRAMES = 200


def render(session, song, rate, *options):
    """morvane-render's samples of the MIDI file at the rate, as a live player's come."""
    samples = subprocess.run(
        [os.environ['MORVANE_RENDER'], '--rate', str(rate), '--tail', TAIL, *options, song, '-'],
        capture_output=True, check=True, env=session.env, timeout=60).stdout
    return samples if rate == RATE else samples[:-2 * FLUSHED_FRAMES]


def assert_found(reference, player, period):
    """The reference is in the recording, a whole number of periods in: each event applied at
    its own sample after the one the player armed in began."""
    try:
        offset = harness.find_reference(reference, player.samples())
    except harness.Underrun:
        raise
    except harness.E2eError as error:
        # A cycle JACK ran with a client late for it (an xrun) leaves the recording wrong for
        # a reason of the machine's load, not of the sound, as an underrun does; it is not
        # silence inserted, though.
        if player.xruns:
            raise harness.Underrun('%s; JACK reported %d xruns while recording'
                                   % (error, player.xruns))
        raise
    if offset % period:
        raise harness.E2eError('the reference starts at frame %d of a period' % (offset % period))


def burst(moves):
    """The cutoff swept by many moves at frames spread over one period."""
    return [(0xB0, 74, i % 128) for i in range(moves)]


def spread(period, messages, last_frame=BLOCK - 1):
    return [(period, i * last_frame // len(messages), list(m)) for i, m in enumerate(messages)]


# However many messages a period brings, none is lost: the note-off after them releases the
# note, and the panel follows the sweep without taking the sound back.
BURSTS = {
    '600 moves and a note-off in one period': (
        [(10, 0, [0x90, 69, 100])] + spread(20, burst(600), 439) + [(20, 440, [0x80, 69, 0])],
        21, recorded_seconds(21)),
    'a steady 400 a period for 3 s': (
        [(10, 0, [0x90, 69, 100])] + [e for p in range(11, 161) for e in spread(p, burst(400))] +
        [(160, 440, [0x80, 69, 0])],
        161, recorded_seconds(161)),
}


class Midi(unittest.TestCase):
    def test_jack_midi_plays_as_the_offline_rendering_of_its_file(self):
        for rate in (RATE, 48000):
            with self.subTest(rate=rate):
                harness.allowing_an_underrun(
                    lambda: self.play_through_jack(rate=rate, then=self.bend_range_kept))

    def bend_range_kept(self, home):
        """The range RPN 0 set shows in the MIDI window, which keeps it for the next start."""
        def kept():
            with open(os.path.join(home, 'morvane.ini')) as f:
                return 'BEND_RANGE=7\n' in f.read()
        harness.wait_until(kept, 'the bend range in the settings file', 5)

    def test_no_message_of_a_burst_is_lost(self):
        for what, (events, last, seconds) in BURSTS.items():
            with self.subTest(what):
                harness.allowing_an_underrun(lambda: self.play_through_jack(events, last, seconds))

    def play_through_jack(self, events=EVENTS, last_block=LAST_BLOCK, seconds=RECORDED_SECONDS,
                          rate=RATE, then=None):
        with harness.Session(x=True, jack=rate) as session:
            program, _, home = session.start_morvane(
                SETTINGS, args=['--audio=jack', '--no-connect'])
            # The reference starts from the settings the program started with: what MIDI
            # changes in them while it plays (the bend range) must not reach back before.
            settings = os.path.join(session.directory, 'start.ini')
            shutil.copyfile(os.path.join(home, 'morvane.ini'), settings)
            player = Player(session.env['JACK_DEFAULT_SERVER'], events, seconds, rate)
            with player.client:
                player.client.connect(player.midi, 'Morvane:midi_in')
                player.client.connect('Morvane:out', player.audio)
                player.armed = True
                self.assertTrue(player.done.wait(30), 'the recording did not finish')
            self.assertIsNone(program.poll(), 'the program ended')
            song = os.path.join(session.directory, 'song.mid')
            with open(song, 'wb') as f:
                f.write(midi_file(events, last_block, rate))
            reference = render(session, song, rate, '--ini', settings, '--preset', '0')
            assert_found(reference, player, rate // 50)
            if then:
                then(home)

    def test_a_source_ticked_in_the_midi_window_plays_and_is_connected_again(self):
        harness.allowing_an_underrun(self.tick_a_source)

    def tick_a_source(self):
        events = [(10, 0, [0x90, 69, 100]), (30, 0, [0x80, 69, 0])]
        source = 'morvane-e2e-midi:midi_out'
        with harness.Session(x=True, jack=True) as session:
            server = session.env['JACK_DEFAULT_SERVER']
            player = Player(server, events, recorded_seconds(30))
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
                f.write(midi_file(events, 30))
            reference = render(session, song, RATE,
                               '--ini', os.path.join(home, 'morvane.ini'), '--preset', '0')
            assert_found(reference, player, BLOCK)

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
