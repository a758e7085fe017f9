// Ogg loading: decoding a generated file, and the header checks that keep
// crafted files away from the decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

    OggStreamPtr s = oggStreamOpen(path);
    ASSERT_TRUE(s);
    std::vector<float> buf(2 * 20000);
    int got = oggStreamRead(s.get(), buf.data(), 20000);
    EXPECT_EQ(got, pcm.frames());
    EXPECT_TRUE(oggStreamRewind(s.get()));
    EXPECT_EQ(oggStreamRead(s.get(), buf.data(), 100), 100);
    EXPECT_FLOAT_EQ(buf[50], pcm.data[50]);
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
        {"sound at the frame limit", {frames, kOggMaxFileBytes}, true},
        {"sound one frame over", {frames - 1, kOggMaxFileBytes}, false},
        {"file at the byte limit", {kOggMaxSampleFrames, bytes.size()}, true},
        {"file one byte over", {kOggMaxSampleFrames, bytes.size() - 1}, false},
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

TEST_F(AudioOggTest, MissingFileFailsQuietly) {
    Pcm pcm;
    EXPECT_FALSE(oggLoadFile(path + ".none", &pcm));
    EXPECT_FALSE(oggStreamOpen(path + ".none"));
    EXPECT_EQ(mixSampleLoad(path + ".none"), 0u);
    EXPECT_EQ(mixStreamCreateFile(path + ".none", true), 0u);
}
}  // namespace
