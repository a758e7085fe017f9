// The mixer engine: samples decoded once and shared by up to 128
// playbacks, music streamed from files by a decoder thread, channel
// attributes, timed slides, and the float mix pulled by the audio sink.
//
// State: one record, MixerState in mixer.cpp (samples, voices, the music
// decoder thread and its feeds, the output), built on first use so that any
// thread, the sink's included, may call in whatever the order of static
// construction.
// mixReset() empties it and closes the output (tests; the client's output
// is opened and closed around the run by clientMain).
//
// Handles are plain integers, 0 meaning none.  A channel handle carries a
// generation: once its playback has ended or been taken over, every call
// with the old handle fails instead of touching the voice that reuses the
// slot.  All functions are thread-safe (UI, dispatch, sound loader, decoder and sink
// threads); the sink's pull runs under the same lock for the few
// microseconds of a block.
//
// Samples: decoded audio is handed from the thread that decoded it (the
// sound unit's loader) to the mixer by publishing it in the sample table
// under the mixer's lock; from then on it is immutable and shared by
// reference count between the table and the playbacks, which read it on the
// sink's thread under that same lock.  Sample memory is kept within a cap:
// a load that would pass it first evicts the least recently used samples
// (last loaded or given a channel) that nothing is playing.  An evicted or
// freed sample's handle goes stale: mixSampleGetChannel and mixSampleTouch
// fail on it, and the caller loads the file again.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/ogg.h"
#include "platform/caps.h"

struct AudioSink;

using MixSample = uint32_t;
using MixChannel = uint32_t;

// Attribute numbers as the client's documents know them.
enum class MixAttrib { Freq = 1, Vol = 2, Pan = 3 };
enum class MixState { Stopped, Playing, Paused };

constexpr int kMixRate = 44100;  // output rate, Hz; output is stereo float
// kMixMaxPlaybacks (a sample), kMixMaxVoices (all samples), kMixMaxVolume
// and kMixSampleMemoryCap are in platform/caps.h.

enum class MixLoad {
    Loaded,
    Failed,     // unreadable, malformed, or beyond the decoder's limits
    NoRoom,     // larger than the cap, or the samples playing leave no room
    Cancelled,  // *cancel became true during the decode
};
struct MixLoadResult {
    MixSample sample = 0;
    MixLoad status = MixLoad::Failed;
    std::vector<MixSample> evicted;  // samples freed to make room, now stale
};
// Decodes `path` (see oggLoadFile) into a new sample that up to
// `maxPlaybacks` channels share, keeping the bytes held by all samples
// (mixSampleBytes) within `capBytes` (0: no cap).  Whether the sample fits
// is decided from the length its headers declare, before decoding: room is
// made then (see above), or the load ends as NoRoom without decoding.
// Runs on the calling thread for as long as the decode takes.
MixLoadResult mixSampleLoadFile(const std::string& path, size_t capBytes,
                                const std::atomic<bool>* cancel = nullptr,
                                int maxPlaybacks = kMixMaxPlaybacks);
// mixSampleLoadFile's sample alone, 0 on any failure.
MixSample mixSampleLoad(const std::string& path, int maxPlaybacks = kMixMaxPlaybacks,
                        size_t capBytes = 0);
// Bytes of decoded audio held by the samples in the table (a freed sample
// still playing is no longer counted).
size_t mixSampleBytes();
// A sample from decoded audio (tones, tests), outside any cap but evictable
// like the others; 0 when `pcm` is empty.
MixSample mixSampleFromPcm(Pcm pcm, int maxPlaybacks = kMixMaxPlaybacks);
// Marks the sample as just used (for eviction); false when it is stale.
bool mixSampleTouch(MixSample s);
// Takes the sample out of the table; its playbacks play on to their end.
// False when it is stale.
bool mixSampleFree(MixSample s);
// Grows whenever sample memory may have become free to evict or take: a
// sample's last playback ended, a sample was evicted or freed.  A load that
// found no room is worth trying again only once this has changed.
uint64_t mixSampleRoomEpoch();
// A new, stopped channel of the sample at volume 1, centre, its own rate.
// When all its playbacks are in use the one that has played longest (the
// oldest on ties) is taken over and its handle goes stale.  0 when `s` is
// not a sample (or is stale).
MixChannel mixSampleGetChannel(MixSample s);

// Opens `path` for streaming; the stream loops when `loop`, and frees itself
// when it stops (stop, end of a non-looping file, end of a slide to -1).
// 0 when the file fails its checks.  The stream starts stopped.
MixChannel mixStreamCreateFile(const std::string& path, bool loop);

// Volume: linear, 0 silent, 1 full, above 1 amplifies up to kMixMaxVolume
// (negative plays as 0).  A value that is not finite is refused.
// Pan: balance, -1 left .. +1 right; values beyond are heard as -1 or +1.
// Freq: playback rate in Hz; 0 restores the channel's own rate; it is kept
// within 100 Hz .. 1 MHz.  Reads return what was set (Freq: the rate in Hz).
bool mixSetAttribute(MixChannel c, MixAttrib a, float value);
bool mixGetAttribute(MixChannel c, MixAttrib a, float* value);
// Linear slide of the volume from its current value to `target` over `ms`
// milliseconds of output, replacing a running slide; it runs on while the
// channel is paused.  A target of -1 slides to 0, then stops and frees.
bool mixSlideAttribute(MixChannel c, MixAttrib a, float target, int ms);

// Starts or resumes; `restart` goes back to the first frame.
bool mixPlay(MixChannel c, bool restart);
bool mixPause(MixChannel c);
// Stops and frees the channel.
bool mixStop(MixChannel c);
MixState mixChannelState(MixChannel c);
// Frames of output the channel has played (its position at rate 1:1).
int64_t mixChannelPlayedFrames(MixChannel c);

// Mixes `frames` stereo frames into `out` (overwritten), clipped to -1..1;
// never NaN nor infinite.
// This is the sink's pull; tests call it directly to render into memory.
void mixRender(float* out, int frames);
// With `wait`, streams that have not been decoded far enough are waited for
// (rendering faster than real time); otherwise they underrun into silence.
void mixSetWaitForStreams(bool wait);
// Number of live channels (samples' playbacks and streams).
int mixActiveChannels();

// Opens `sink` and starts pulling from the mixer; false when the device
// cannot be opened.  An output already open is closed first.
bool audioOpen(AudioSink* sink);
// Closes the open output, if any.
void audioClose();

// Closes the output, frees every channel, sample and stream, and stops the
// music decoder thread.
void mixReset();
