// Ogg loading: decoding a generated file, and the header checks that keep
// crafted files away from the decoder.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "audio/mixer.h"
#include "audio/ogg.h"
#include "measure.h"

namespace fs = std::filesystem;

namespace {

struct AudioOggTest : ::testing::Test {
    static void SetUpTestSuite() {
        path = (fs::temp_directory_path() / ("kordo-ogg-" + std::to_string(std::random_device{}()) + ".ogg")).string();
        ASSERT_TRUE(makeSound("sox -q -n -r 22050 -c 2 " + path + " synth 0.5 sine 440 gain -3"));
        std::ifstream f(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(f), {});
    }
    static void TearDownTestSuite() { fs::remove(path); }

    // Offset of the first byte after `marker` in the file.
    static size_t after(const char* marker, size_t len) {
        auto it = std::search(bytes.begin(), bytes.end(), marker, marker + len);
        EXPECT_NE(it, bytes.end());
        return size_t(it - bytes.begin()) + len;
    }
    static std::vector<uint8_t> with(size_t at, std::initializer_list<uint8_t> patch) {
        std::vector<uint8_t> b = bytes;
        std::copy(patch.begin(), patch.end(), b.begin() + at);
        return b;
    }

    // The file with its last page's granule position (the length a reader
    // takes from the header) set to `frames`, its checksum made good again.
    static std::vector<uint8_t> declaring(uint64_t frames) {
        std::vector<uint8_t> b = bytes;
        size_t last = 0;
        for (size_t at = 0; at + 27 <= b.size(); ++at)
            if (std::memcmp(&b[at], "OggS", 4) == 0) last = at;
        for (int i = 0; i < 8; ++i) b[last + 6 + i] = uint8_t(frames >> (8 * i));
        size_t len = 27 + b[last + 26];
        for (size_t i = 0; i < b[last + 26]; ++i) len += b[last + 27 + i];
        std::fill(b.begin() + long(last) + 22, b.begin() + long(last) + 26, 0);
        uint32_t crc = 0;
        for (size_t i = last; i < last + len; ++i) {
            crc ^= uint32_t(b[i]) << 24;
            for (int k = 0; k < 8; ++k) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
        }
        for (int i = 0; i < 4; ++i) b[last + 22 + i] = uint8_t(crc >> (8 * i));
        return b;
    }
    static OggLimits limitsOf(int64_t frames, size_t fileBytes) {
        OggLimits l;
        l.maxFrames = frames;
        l.maxFileBytes = fileBytes;
        return l;
    }

    static inline std::string path;
    static inline std::vector<uint8_t> bytes;
};

TEST_F(AudioOggTest, DecodesAGeneratedFile) {
    ASSERT_EQ(oggCheckHeaders(bytes.data(), bytes.size()), OggCheck::Ok);
    Pcm pcm;
    ASSERT_TRUE(oggLoadFile(path, &pcm));
    EXPECT_EQ(pcm.channels, 2);
    EXPECT_EQ(pcm.rate, 22050);
    EXPECT_NEAR(double(pcm.frames()), 11025.0, 64.0);
    std::vector<float> st(pcm.data.begin(), pcm.data.end());
    EXPECT_NEAR(dominantHz(st, 22050), 440.0, 5.0);
    EXPECT_GT(*std::max_element(pcm.data.begin(), pcm.data.end()), 16384);  // -3 dB: 16-bit full scale is used

    OggStreamPtr s = oggStreamOpen(path);
    ASSERT_TRUE(s);
    std::vector<float> buf(2 * 20000);
    int got = oggStreamRead(s.get(), buf.data(), 20000);
    EXPECT_EQ(got, pcm.frames());
    EXPECT_TRUE(oggStreamRewind(s.get()));
    EXPECT_EQ(oggStreamRead(s.get(), buf.data(), 100), 100);
    EXPECT_NEAR(buf[50], pcm.data[50] / 32768.0, 1.0 / 16384);  // the same frames, streamed as float
}

// Sounds load on the sound loader while music streams open on the dispatch
// thread: the decoder's one process-wide table must not be written by one
// open while another reads or writes it (a race the thread sanitizer sees).
TEST_F(AudioOggTest, DecodersOpenOnSeveralThreadsAtOnce) {
    std::atomic<int> failures{0};
    auto loads = [&] {
        for (int i = 0; i < 20; ++i) {
            Pcm pcm;
            if (!oggLoadFile(path, &pcm)) ++failures;
        }
    };
    auto streams = [&] {
        for (int i = 0; i < 20; ++i)
            if (!oggStreamOpen(path)) ++failures;
    };
    std::thread a(loads), b(streams), c(loads);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(AudioOggTest, PrefixesBeforeTheCommentHeaderEndAreIncomplete) {
    size_t end = after("\x03vorbis", 7) + 4;
    for (size_t n = 0; n < end; n += 7) ASSERT_EQ(oggCheckHeaders(bytes.data(), n), OggCheck::Incomplete) << n;
    Pcm pcm;
    EXPECT_FALSE(oggDecodeMemory(bytes.data(), end, &pcm));
}

TEST_F(AudioOggTest, CraftedHeadersAreRefusedBeforeDecoding) {
    size_t vendor = after("\x03vorbis", 7);
    uint32_t vendorLen = bytes[vendor] | bytes[vendor + 1] << 8;
    size_t count = vendor + 4 + vendorLen;
    size_t id = after("\x01vorbis", 7);
    ASSERT_GE(bytes[count], 1) << "sox writes a comment";
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    } cases[] = {
        {"vendor length past the packet", with(vendor, {0xff, 0xff, 0xff, 0xff})},
        {"vendor length one past the packet", with(vendor, {0xff, 0x7f, 0, 0})},
        {"comment count past the packet", with(count, {0xff, 0xff, 0xff, 0x3f})},
        {"comment length past the packet", with(count + 4, {0xf0, 0xff, 0xff, 0x7f})},
        {"three channels", with(id + 4, {3})},
        {"rate zero", with(id + 5, {0, 0, 0, 0})},
        {"rate absurd", with(id + 5, {0, 0, 0, 0x7f})},
        {"not Ogg", with(0, {'X'})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(oggCheckHeaders(c.file.data(), c.file.size()), OggCheck::Bad);
        Pcm pcm;
        EXPECT_FALSE(oggDecodeMemory(c.file.data(), c.file.size(), &pcm));
    }
}

// The length and size limits, reached with small limits on the small file:
// a file or sound of exactly the limit decodes, one frame or byte more does
// not, in memory and from the file alike, and a refusal leaves *out as it was.
TEST_F(AudioOggTest, LengthAndSizeLimitsAcceptExactlyTheLimit) {
    Pcm whole;
    ASSERT_TRUE(oggDecodeMemory(bytes.data(), bytes.size(), &whole));
    const int64_t frames = whole.frames();
    struct Case {
        const char* what;
        OggLimits limits;
        bool ok;
    } cases[] = {
        {"sound at the frame limit", limitsOf(frames, kOggMaxFileBytes), true},
        {"sound one frame over", limitsOf(frames - 1, kOggMaxFileBytes), false},
        {"file at the byte limit", limitsOf(kOggMaxSampleFrames, bytes.size()), true},
        {"file one byte over", limitsOf(kOggMaxSampleFrames, bytes.size() - 1), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pcm mem, file;
        mem.rate = file.rate = 1;  // shows whether a refusal wrote to it
        EXPECT_EQ(oggDecodeMemory(bytes.data(), bytes.size(), &mem, c.limits), c.ok);
        EXPECT_EQ(oggLoadFile(path, &file, c.limits), c.ok);
        for (const Pcm* p : {&mem, &file}) {
            EXPECT_EQ(p->frames(), c.ok ? frames : 0);
            EXPECT_EQ(p->rate, c.ok ? 22050 : 1);
        }
    }
}

// The length in the last page's granule position decides before any audio
// is decoded: beyond the frame limit the file is refused without admit
// being asked, and the decode may not run far past a declared length (a
// header that understates the sound cannot slip a long one past the
// caller's memory budget).
TEST_F(AudioOggTest, TheDeclaredLengthDecidesBeforeDecoding) {
    Pcm whole;
    ASSERT_TRUE(oggDecodeMemory(bytes.data(), bytes.size(), &whole));
    const int64_t frames = whole.frames();
    std::atomic<bool> cancelled{true};
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        bool admits, cancel;
        int64_t askedFrames;  // what admit is told; -1: not asked
        bool ok;
    } cases[] = {
        {"honest header", bytes, true, false, frames, true},
        {"declares one frame past the limit", declaring(uint64_t(kOggMaxSampleFrames) + 1), true, false, -1, false},
        {"declares 2^32 frames or more", declaring(uint64_t(1) << 40), true, false, -1, false},
        {"declares far fewer than it holds", declaring(100), true, false, 100, false},
        {"the caller refuses", bytes, false, false, frames, false},
        {"cancelled", bytes, true, true, frames, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OggLimits limits;
        int64_t asked = -1;
        limits.admit = [&](const OggInfo& info) {
            asked = info.frames;
            EXPECT_EQ(info.channels, 2);
            EXPECT_EQ(info.rate, 22050);
            return c.admits;
        };
        if (c.cancel) limits.cancel = &cancelled;
        Pcm pcm;
        EXPECT_EQ(oggDecodeMemory(c.file.data(), c.file.size(), &pcm, limits), c.ok);
        EXPECT_EQ(asked, c.askedFrames);
        EXPECT_EQ(pcm.frames(), c.ok ? frames : 0);
    }
}

TEST_F(AudioOggTest, MissingFileFailsQuietly) {
    Pcm pcm;
    EXPECT_FALSE(oggLoadFile(path + ".none", &pcm));
    EXPECT_FALSE(oggStreamOpen(path + ".none"));
    EXPECT_EQ(mixSampleLoad(path + ".none"), 0u);
    EXPECT_EQ(mixStreamCreateFile(path + ".none", true), 0u);
}
}  // namespace
