#include "engine/voice_pool.h"

#include <utility>

namespace morvane {

namespace {

TSynthVoice& VoiceAt(RunningState& s, int position) {
    return s.Voices[s.VoiceOrder[position]];
}

// The first position whose voice plays the key, or -1.
int PositionOfKey(const RunningState& s, int key) {
    for (int i = 0; i < kVoiceCount; ++i) {
        int v = s.VoiceOrder[i];
        if (v != kNoVoice && s.Voices[v].Key == key)
            return i;
    }
    return -1;
}

// Positions i - 1 down to 0 each move one place back; position 0 becomes the voice.
void MoveToFront(RunningState& s, int voice, int position) {
    for (int i = position; i > 0; --i)
        s.VoiceOrder[i] = s.VoiceOrder[i - 1];
    s.VoiceOrder[0] = voice;
}

// Only the keyboard's keys have buttons to colour.
void Mark(KeySet& keys, int key) {
    if (key < kKeyCount)
        keys[key] = true;
}

void StartVoice(RunningState& s, int voice, int key, NoteVelocity velocity,
                KeyColourChanges& changes) {
    TSynthVoice& v = s.Voices[voice];
    v = TSynthVoice{};
    v.Key = key;
    v.Semitone = SemitoneOfKey(key);
    v.VelocityGain = velocity.Gain;
    v.VelocityOctaves = velocity.Octaves;
    v.VcaStage = StageAttack;
    v.VcfStage = StageAttack;
    Mark(changes.Sounding, key);
    v.Active = 1;
}

int LowestFreeRecord(const RunningState& s) {
    for (int k = 0; k < kVoiceCount; ++k) {
        if (s.Voices[k].Active == 0)
            return k;
    }
    return -1;
}

// Takes the voice at a position from another key: its button goes back to rest first.
void Steal(RunningState& s, int position, int key, NoteVelocity velocity,
           KeyColourChanges& changes) {
    int v = s.VoiceOrder[position];
    Mark(changes.Resting, s.Voices[v].Key);
    MoveToFront(s, v, position);
    StartVoice(s, v, key, velocity, changes);
}

} // namespace

KeyColourChanges NoteOn(RunningState& s, int key, NoteVelocity velocity) {
    KeyColourChanges changes;
    // A voice's key indexes the key table on the audio thread: only voice keys make voices.
    if (key < 0 || key >= kVoiceKeyCount)
        return changes;
    int same = PositionOfKey(s, key);
    if (same >= 0) {
        // A key that still sounds (a held key's auto-repeat) is ignored; one in
        // release restarts from silence on the same voice.
        if (VoiceAt(s, same).VcaStage != StageRelease)
            return changes;
        int v = s.VoiceOrder[same];
        MoveToFront(s, v, same);
        StartVoice(s, v, key, velocity, changes);
        return changes;
    }

    for (int i = 0; i < kVoiceCount; ++i) {
        if (s.VoiceOrder[i] != kNoVoice)
            continue;
        int free = LowestFreeRecord(s);
        if (free < 0)
            break;
        MoveToFront(s, free, i);
        StartVoice(s, free, key, velocity, changes);
        return changes;
    }

    for (int j = kVoiceCount - 1; j >= 0; --j) {
        if (s.VoiceOrder[j] != kNoVoice && VoiceAt(s, j).VcaStage == StageRelease) {
            Steal(s, j, key, velocity, changes);
            return changes;
        }
    }

    Steal(s, kVoiceCount - 1, key, velocity, changes);
    return changes;
}

KeyColourChanges ReleaseNote(RunningState& s, int key) {
    KeyColourChanges changes;
    int i = PositionOfKey(s, key);
    if (i < 0)
        return changes;
    TSynthVoice& v = VoiceAt(s, i);
    v.VcaStage = StageRelease;
    v.VcfStage = StageRelease;
    Mark(changes.Resting, key);
    // Move the released voice back past the voices still held behind it, so that it
    // becomes the first of the voices in release.
    for (int p = i + 1; p < kVoiceCount; ++p) {
        int d = s.VoiceOrder[p];
        if (d != kNoVoice && s.Voices[d].VcaStage < StageRelease)
            std::swap(s.VoiceOrder[p - 1], s.VoiceOrder[p]);
    }
    return changes;
}

KeyColourChanges NoteOff(RunningState& s, int key) {
    KeyColourChanges changes;
    int i = PositionOfKey(s, key);
    if (i < 0)
        return changes;
    TSynthVoice& v = VoiceAt(s, i);
    v.Active = 0;
    v.Key = -1;
    Mark(changes.Resting, key);
    for (int p = i; p < kVoiceCount - 1; ++p)
        s.VoiceOrder[p] = s.VoiceOrder[p + 1];
    s.VoiceOrder[kVoiceCount - 1] = kNoVoice;
    return changes;
}

} // namespace morvane
