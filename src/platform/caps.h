// Every bound the client keeps, whatever a server or a file sends: the one
// place these figures live.  Each says why it is what it is and which test
// shows it holding; the units use the names, never the numbers.  Past a cap
// the extra is dropped silently unless the unit's header says otherwise.
// Header only, no dependencies: every library of the core includes it.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- The connection -------------------------------------------------------

// Longest line the receive thread keeps, in bytes, its end included: a
// longer one is dropped whole and the lines after it still come.  Far above
// any line a game sends (a menu of a few hundred items fits in a few KB).
// Shown by Session.LinesAtTheReceiveBufferSize and
// LineSplitting.OverlongLineIsDroppedAndTheStreamGoesOn.
constexpr size_t kMaxLineBytes = 524288;

// Memory held by received lines waiting for the dispatch thread (while a
// handler waits for the player, say), counted as receivedChunkFootprint
// counts it: the line bytes and every line's own overhead.  Past it the
// receive thread stops reading until the handlers catch up, so a flood
// costs at most this much (and one receive more) whatever its lines; 8 MB
// is thousands of times what a game sends ahead of a handler.
// Shown by Session.AFloodWhileAHandlerWaitsStaysWithinTheQueueCap.
constexpr size_t kMaxQueuedBytes = size_t(8) << 20;

// Lines of one run handed to the UI thread in one call: a flood is cut into
// runs of this many, so the UI thread is never held for long and keys and
// the window stay live between them.
// Shown by Runs.ARunIsCappedSoTheDispatcherIsNeverHeldLong.
constexpr size_t kMaxRunLines = 256;

// A connect that has not completed by then fails: a host that drops the
// request would otherwise hold the series for the system's own time-out of
// minutes.  Shown by Session.ConnectTimesOutOnAHostThatDropsTheRequest.
constexpr int kConnectTimeoutMs = 10000;

// A line that cannot reach the socket within this time closes the
// connection as lost; on the UI thread the wait is shorter, so that the
// window always closes within 2 s whatever the server does.
// Shown by Session.ASendToAServerThatReadsNothingGivesUp.
constexpr int kSendWaitMs = 5000;
constexpr int kUiSendWaitMs = 1000;

// Both login texts need at least this many characters and hold at most this
// many (CP1252: one byte each): the fields' limit, which the server's
// account names and passwords keep within.
// Shown by ConnDlg.CredentialsAreCutTo63Characters.
inline constexpr size_t kMinCredentialLength = 4;
inline constexpr int kMaxCredentialLength = 63;

// ---- Menus ----------------------------------------------------------------

// Caps on one menu, whatever the server sends.  Items: a spoken menu of this
// length is long past usable (the longest menus a game sends hold a few
// hundred items; a full-length "menu " line holds at most about 65,000), so
// only a flood of "uitem " appends could reach it.  Text: the bytes of the
// labels, values and sounds together, eight times the longest line that can
// arrive, so that appends of long items cannot grow a menu without bound
// either.  Past either cap, what would add is ignored.
// Shown by MenuCaps.NoWayOfAddingItemsGoesPastTheCap,
// MenuCaps.ItemTextsStayWithinTheMenuBudget and
// MenuStack.NoServerCommandGrowsAMenuPastTheCap.
constexpr int32_t kMaxMenuItems = 32768;
constexpr size_t kMaxMenuTextBytes = size_t(4) << 20;

// Menus open at once (a submenu opens over its parent): past it a new menu
// is not opened.  Games nest three or four deep.
// Shown by MenuStack.ASeventeenthMenuIsNotOpened.
constexpr int kMaxOpenMenus = 16;

// ---- History and chat -----------------------------------------------------

// The history's budget: the text of its messages plus kHistoryMessageCost
// per message; past it the oldest go, an eighth of the budget at a time.
// The list and the view together take about 2.1 bytes per byte of text and
// 120 per line: 64 per line keeps the budget in step with memory whatever
// the line length (the process then holds about twice the budget at most).
// 64 MiB of history (a million lines) is more than any session reads back.
// On 32-bit builds the budget is what the Win32 history edit holds (its text
// limit, 0xFFFFFF characters), so the view never fills up and stops taking
// new text, and the address space stays far from its end.
// Shown by History.PastTheBudgetTheOldestMessagesGoFromListAndView.
constexpr size_t kHistoryMessageCost = 64;
constexpr size_t kHistoryBudget = sizeof(void*) >= 8 ? size_t{64} << 20 : size_t{0xFFFFFF};

// How much view text a flood of runs may gather before it is shown: a flood
// reaches the view in appends of about this size, never one that grows
// without end.  Shown by History.AFloodOfRunsIsShownInBoundedAppends.
constexpr size_t kMaxGatheredBytes = 1u << 18;

// Lines the chat line's recall keeps, one per first word; the thirty-third
// drops the oldest.  Shown by Chat.TheThirtyThirdEntryDropsTheOldest.
constexpr int kChatCap = 32;

// ---- Sounds ---------------------------------------------------------------

// Longest sound name: "sounds/" + name + ".ogg" within the 260 bytes of a
// Windows path.  Shown by AudioSoundTest.NamesLeavingTheSoundsFolderAreRefused.
constexpr size_t kMaxSoundNameBytes = 248;

// Music changes come in bursts (start-up music, lobby, game, right after
// login): up to kMaxFadingMusic replaced musics fade out together.  Past it
// the oldest fade ends early with a ramp of kQuickFadeMs: short enough to
// free the stream at once, long enough to be no click.  A flood of changes
// that outruns even those ramps (more than kMaxStoppingMusic within one)
// stops the oldest at once, so that at most 1 + 4 + 4 streams ever exist.
// Shown by AudioSoundTest.PastFourFadesTheOldestEndsWithAShortRamp and
// AudioSoundTest.AFloodOfMusicChangesKeepsAtMostNineStreams.
constexpr size_t kMaxFadingMusic = 4;
constexpr size_t kMaxStoppingMusic = 4;

// Live playbacks of one sample, and of all samples together: past either a
// new playback takes over the one that has played longest.  Keeps the
// mix's cost bounded and every slot number within a handle's 16 bits.
// Shown by AudioMixerTest.LivePlaybacksAreCappedAcrossSamples and
// AudioMixerTest.FullSampleTakesOverTheLongestPlayingThenTheOldest.
constexpr int kMixMaxPlaybacks = 128;
constexpr int kMixMaxVoices = 512;

// Plays waiting for their files to load: more could not sound at once
// anyway (kMixMaxVoices); beyond it a new request plays nothing.
// Shown by AudioSoundTest.PlaysWaitingForTheLoaderAreBounded.
constexpr size_t kMaxWaitingPlays = kMixMaxVoices;

// Names remembered as failing to load, so that a bad file is not read again
// and again; past it the oldest is forgotten (and at worst loaded, and
// refused, once more).
// Shown by AudioSoundTest.RememberedFailuresAreBounded.
constexpr size_t kMaxFailures = 1024;

// The largest volume a channel keeps (+24 dB); larger values are clamped.
// Shown by AudioMixerTest.OutputStaysFiniteAtAnyVolume.
constexpr float kMixMaxVolume = 16.0f;

// What the client's decoded samples may hold together, in bytes of 16-bit
// PCM: 256 MB in a 64-bit process, 96 MB in a 32-bit one (about 25 and 9.5
// minutes of stereo at 44.1 kHz).  The game's effects are short, so this
// leaves room for every honest server while keeping a 32-bit process well
// inside its address space.  Past it the least recently used idle samples
// are evicted.
// Shown by AudioMixerTest.FullSampleMemoryEvictsTheLeastRecentlyUsedIdleSamples
// and AudioSoundTest.FullSampleMemoryEvictsIdleSamplesAndTheirNamesLoadAgain.
constexpr size_t kMixSampleMemoryCap = sizeof(void*) >= 8 ? size_t(256) << 20 : size_t(96) << 20;

// Ogg files: what a sound effect or a music may be.  Channels and rates
// outside these are refused from the headers, before decoding.  The length
// of an effect decoded whole (5 minutes at 48 kHz) is read from the file's
// last page before decoding; the file is read whole only up to
// kOggMaxFileBytes, and a stream's headers only up to kOggMaxHeaderBytes.
// Shown by AudioOggTest.CraftedHeadersAreRefusedBeforeDecoding,
// AudioOggTest.LengthAndSizeLimitsAcceptExactlyTheLimit and
// AudioOggTest.TheDeclaredLengthDecidesBeforeDecoding.
constexpr int kOggMaxChannels = 2;
constexpr int kOggMinRate = 4000;    // Hz
constexpr int kOggMaxRate = 192000;  // Hz
constexpr int64_t kOggMaxSampleFrames = 48000LL * 300;
constexpr size_t kOggMaxFileBytes = 64u << 20;
constexpr size_t kOggMaxHeaderBytes = 1u << 20;

// ---- Downloads ------------------------------------------------------------

// Longest HTTP head (status line + headers + blank line) accepted, in bytes.
// Shown by HttpReader.Heads.
constexpr size_t kHttpMaxHead = 64 * 1024;

// A download's bounds: a connect not done within kDownloadConnectTimeoutMs,
// a receive that waits longer than kDownloadIdleTimeoutMs, or an exchange
// longer than kDownloadOverallTimeoutMs (generous for a slow line: an 80 MB
// installer at 1 Mbit/s takes about 11 minutes) fails the transfer.  A
// Content-Length above kDownloadMaxBytes is refused before any byte is
// written; a body without one is cut off there.
// Shown by Download.DeadlineAndSizeCapEndHostileBodies.
constexpr int kDownloadConnectTimeoutMs = 10000;
constexpr int kDownloadIdleTimeoutMs = 30000;
constexpr int64_t kDownloadOverallTimeoutMs = 20 * 60 * 1000;
constexpr int64_t kDownloadMaxBytes = int64_t(256) << 20;

// Names tried for a download's temporary file: "<target>.part", then
// "<target>.1.part" and on.  Only leftovers of a crash or another client's
// downloads in the same folder take these names (this process downloads a
// target once at a time), so a handful is plenty; past them the file counts
// as not writable.  Shown by Download.PastTheTemporaryNamesTheFileIsNotWritable.
constexpr int kTemporaryNames = 16;

// ---- The terminal ---------------------------------------------------------

// A key sequence longer than this without its final byte is noise, not a
// key.  Shown by KeyDecoder.AnEndlessSequenceDecodesTheSameHoweverItIsRead.
constexpr size_t kMaxKeySequence = 32;
