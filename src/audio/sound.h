// Sound effects and music: the operations the rest of the client calls.
// Names and descriptions are CP1252 text from the server; a name maps to
// the file "sounds/<name>.ogg" under the working folder.
//
// Threads: playSound may be called from any thread (its body runs on the UI
// thread and the caller waits); playMusic and preloadSounds run on the
// connection's dispatch thread, as the handlers of their lines (or on the
// UI thread at start-up); the volume functions and the pause switch run on
// the UI thread.  Sound files are decoded on the
// sound loader, a thread of this unit, so that no caller waits for a
// decode: a sound whose sample is loaded starts at once, on the UI thread;
// one that must be loaded first starts on the loader once it is.  Sounds
// that wait for loading start in the order they were asked, and a sound
// never starts before an earlier request of the same name; a loaded sound
// is not held back by the loading of another.  Each request starts at most
// one playback; one whose file is missing or fails to load, or that finds
// no room in sample memory, plays nothing.
//
// State: one record, SoundState in sound.cpp (the sample cache, the failure
// memory, the sound loader and its queue, the tones, the current and the
// fading musics, the sounds folder and the observers), built on first use
// and locked inside; soundReset() stops the loader, restores the record and
// resets the mixer.  The front-end installs
// the observers before the run and the output is opened by clientMain, so
// resetCore() leaves this unit alone.  The effects and music volumes and the
// pause switch are this unit's too (SoundVolumes): the configuration hands
// over what its file says at start-up and asks for them when it saves.
//
// This unit never calls the menus: positional pan takes the menu's grid
// from the caller (MenuGrid), so a menu operation may play its sounds while
// it holds the menu lock.
//
// The music operations (playMusic, setMusicVolume, toggleMusicPause) and
// their reads and writes of the music volume and the pause switch run one at
// a time, under a music lock of this module.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "audio/mixer.h"
#include "net/protocol.h"

// The current menu's grid, for positional pan: its number of columns and
// its selected index.
struct MenuGrid {
    int width = 0;
    int selection = 0;
};

// Plays a sound effect as `spec` asks (parseSoundSpec); `flags` bit 0 (1)
// urgent, bit 1 (2) background only.  A pan beyond -1..1 names a column of
// `grid`, heard relative to its selected column; `grid` null means no menu
// is open, and such a pan is heard at its side.  A caller whose pan is
// within -1..1 may pass null.  Thread-safe: the body runs on the UI thread
// and the caller waits for it; with no main window nothing plays.
void playSound(const SoundSpec& spec, int flags, const MenuGrid* grid);
// The same from a description's text (a menu item's sound, a name).
void playSound(std::string_view sz, int flags, const MenuGrid* grid = nullptr);

// Observer of every playSound request, called on the calling thread at entry
// with the description's text and the flags (tests).  nullptr removes it.
using PlayRequestObserver = std::function<void(std::string_view sz, int flags)>;
void setPlayRequestObserver(PlayRequestObserver observer);

// Observer of every effect that starts playing (after gating and loading):
// the name, fxVol x volume, the pan after the positional rule, and the rate
// in Hz (0 when the sound plays at its own rate).  Runs on the thread that
// starts it: the UI thread, or the sound loader for a sound that had to be
// loaded (see above); it must not call this unit's operations.
using SoundStartObserver = std::function<void(std::string_view name, float volume, float pan, float rate)>;
void setSoundStartObserver(SoundStartObserver observer);

// Observer of music events: ("music", name) when a music starts,
// ("music-fade", name) when the previous one starts fading out,
// ("music-pause", "") and ("music-resume", "") from the pause switch and for
// a music that starts paused, ("music-volume", "0.52") from setMusicVolume.
// It runs under the music lock, in the order of the changes it reports, and
// must not call the music operations.
using MusicEventObserver = std::function<void(std::string_view event, std::string_view arg)>;
void setMusicEventObserver(MusicEventObserver observer);

// The sample for `name`, loading it on the calling thread and caching it on
// first use (names compare without regard to letter case).  0 when the name
// is refused or its file is missing, fails to load, or finds no room.
// Samples are kept as 16-bit PCM within kMixSampleMemoryCap (mixer.h); a
// load past it evicts the least recently used samples that are not playing,
// whose names are then loaded again at their next use.
// A failure is remembered for the file as it is (its size and modification
// time), so the file is not read again until it changes or a download
// rewrites it (soundFileWritten); a failure for lack of room, until sample
// memory may have been freed.  A missing file is not remembered: it is
// looked for again at each use.
MixSample getSound(std::string_view name);
// Starts the looping music `name`; the previous one fades out over 5 s.  Up
// to 4 replaced musics fade at once; beyond that the oldest fade ends with
// a 30 ms ramp.  The same name as the current music is ignored.  A refused
// name (see isSafeSoundName) acts as a file that fails to open: the current
// music fades out, and it stays the current name.
void playMusic(std::string_view name);
// Has the sound loader load every space-separated name of `fl` into the
// cache, in order; plays nothing and returns at once.
void preloadSounds(std::string_view fl);
// A file was rewritten under the program folder (`path` relative to it, as
// the downloads write it): for "sounds/<name>.ogg" the name's failure is
// forgotten and its cached sample dropped, so its next use loads the new
// file.  Other paths are ignored.  Any thread.
void soundFileWritten(std::string_view path);
// The player's volumes and the music pause switch.
struct SoundVolumes {
    float music = 0.5f;         // 0..1 once the start-up rule has run (clampVolumes)
    float effects = 1.0f;       // 0..1 likewise; a sound plays at effects x its volume
    bool musicStopped = false;  // the music is paused ("music.on=0" in the file)
};
// What they are now, and replacing them (the configuration, at start-up and
// at exit; tests).  The music fields are read and written under the music
// lock; the effects volume belongs to the UI thread, where sounds are asked
// for.  Setting them does not change a music already playing.
SoundVolumes soundVolumes();
void setSoundVolumes(const SoundVolumes& volumes);
// Change the music or effects volume by n steps of 1/50, within 0..1.
void setMusicVolume(int n);
void setSoundVolume(int n);
// The music pause switch: pauses or resumes the current music and inverts
// SoundVolumes::musicStopped; without a music, does nothing.
void toggleMusicPause();
// Plays a sine tone of `hz` Hz for `ms` milliseconds through the mixer, at
// half scale, independent of the effects volume.  Returns at once.
void playTone(int hz, int ms);

// True when `name` is the one spelling of a file inside the sounds folder:
// at most 248 bytes and a safe relative path (isSafeRelativePath: no ".",
// ".." or empty part, no "\\", ":" or control byte, no absolute path, no
// Windows device name such as COM1 or NUL).
bool isSafeSoundName(std::string_view name);

// What the "music" and "currentMusic" state holds: the current music's
// channel (0 before the first music) and its name.  After a change whose
// file failed to open, the channel is the one fading out.
MixChannel currentMusicChannel();
std::optional<std::string> currentMusicName();

// Names held by the sample cache (loaded samples only).
size_t soundCacheEntries();
// Names remembered as failing to load (at most 1024, the oldest forgotten
// first).
size_t soundFailureEntries();
// Sound files read for decoding since the last reset.
size_t soundLoadAttempts();
// Waits until the sound loader has handled every request made so far
// (tests, benchmarks).
void soundFinishLoads();
// Tests: the folder the sound files are read from (default "sounds"), and
// the sample memory cap (default kMixSampleMemoryCap).
void setSoundsFolder(std::string folder);
void setSoundSampleCap(size_t bytes);
// Stops the sound loader, forgets the cache, the failures, the music and
// the observers, restores the default volumes, and resets the mixer
// (mixReset).
void soundReset();
