// Sound effects and music: the operations the rest of the client calls.
// Names and specifications are CP1252 text from the server; a name maps to
// the file "sounds/<name>.ogg" under the working folder.
//
// Threads: playSound may be called from any thread (its body runs on the UI
// thread and the caller waits); playMusic and preloadSounds run on the
// receive thread (or the UI thread at start-up); the volume functions and
// the pause switch run on the UI thread.
//
// State: one record, SoundState in sound.cpp (the sample cache, the tones,
// the current and the fading music, the sounds folder, the menu position
// source and the observers), built on first use and locked inside;
// soundReset() restores it and resets the mixer.  The front-end installs
// the observers before the run and the output is opened by clientMain, so
// resetCore() leaves this unit alone.  The effects and music volumes and the
// pause switch live in the configuration (conf.fxVol, conf.muVol,
// conf.muStopped).
//
// The music operations (playMusic, setMusicVolume, toggleMusicPause) and
// their reads and writes of conf.muVol and conf.muStopped run one at a time,
// under a music lock of this module.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "audio/mixer.h"

// Plays a sound effect.  `sz` is the server's sound specification
// "name [volume [pan [semitones]]]"; `flags` bit 0 (1) urgent, bit 1 (2)
// background only.  Thread-safe: the body runs on the UI thread and the
// caller waits for it; with no main window nothing plays.
void playSound(std::string_view sz, int flags);

// Observer of every playSound request, called on the calling thread at entry
// with the arguments as given (tests, headless).  nullptr removes it.
using PlayRequestObserver = std::function<void(std::string_view sz, int flags)>;
void setPlayRequestObserver(PlayRequestObserver observer);

// Observer of every effect that starts playing (after gating and loading):
// the name, fxVol x volume, the pan after the positional rule, and the rate
// in Hz (0 when the sound plays at its own rate).  Runs on the UI thread.
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

// The sample for `name`, loading and caching it on first use (names compare
// without regard to letter case).  0 when the name is refused, the file
// fails to load, or the cached samples would hold more than their cap
// (256 MB on 64-bit, 96 MB on 32-bit); a failed name is not kept and is
// tried again at its next use.
MixSample getSound(std::string_view name);
// Starts the looping music `name`; the previous one fades out over 5 s and
// a music still fading from an earlier change stops at once (at most two
// streams).  The same name as the current music is ignored.
void playMusic(std::string_view name);
// Loads every space-separated name of `fl` into the cache; plays nothing.
void preloadSounds(std::string_view fl);
// Change the music or effects volume by n steps of 1/50, within 0..1.
void setMusicVolume(int n);
void setSoundVolume(int n);
// The music pause switch: pauses or resumes the current music and inverts
// conf.muStopped; without a music, does nothing.
void toggleMusicPause();
// Plays a sine tone of `hz` Hz for `ms` milliseconds through the mixer, at
// half scale, independent of the effects volume.  Returns at once.
void playTone(int hz, int ms);

// Positional pan needs the current menu's grid: `fn` fills the number of
// columns and the selected index and returns true while a menu is open.
// Registered at start-up by the layer that owns the menus; nullptr removes.
void setMenuPositionSource(bool (*fn)(int* width, int* selection));

// True when `name` is the one spelling of a file inside the sounds folder:
// at most 248 bytes and a safe relative path (isSafeRelativePath: no ".",
// ".." or empty part, no "\\", ":" or control byte, no absolute path, no
// Windows device name such as COM1 or NUL).
bool isSafeSoundName(std::string_view name);

// What the "music" and "currentMusic" state holds: the current music's
// channel (0 before the first music) and its name.
MixChannel currentMusicChannel();
std::optional<std::string> currentMusicName();

// Names held by the sample cache (loaded samples only; failures are not
// kept).
size_t soundCacheEntries();
// Tests: the folder the sound files are read from (default "sounds").
void setSoundsFolder(std::string folder);
// Forgets the cache, the music, observers and the position source, and
// resets the mixer (mixReset).
void soundReset();
