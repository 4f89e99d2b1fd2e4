// The GTK window's parts that need no display: captions at the toolkit's
// edge, the banner's bitmap reader, the pictures by their resource names,
// and the event loop on GLib's main context with the platform's sockets,
// timers and posted tasks in the same poll.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/hidden_window.h"
#include "platform/socket.h"
#include "support/test_support.h"
#include "ui/gtk/artwork_image.h"
#include "ui/gtk/bmp.h"
#include "ui/gtk/gtk_loop.h"
#include "ui/gtk/text_edge.h"
#include "ui/resources/artwork.h"

namespace {

using namespace ui::gtk;
using Clock = std::chrono::steady_clock;

// ---- captions ------------------------------------------------------------------

TEST(TextEdge, AcceleratorsBecomeMnemonics) {
    struct Case {
        std::string caption;
        std::string mnemonic;
        std::string read;
    };
    const Case cases[] = {
        {"&Check Version", "_Check Version", "Check Version"},
        {"Version &Pr\xC3\xBC"
         "fen",
         "Version _Pr\xC3\xBC"
         "fen",
         "Version Pr\xC3\xBC"
         "fen"},
        {"Salt && Rope", "Salt & Rope", "Salt & Rope"},
        {"snake_case &x", "snake__case _x", "snake_case x"},
        {"trailing&", "trailing", "trailing"},
        {"&&&A", "&_A", "&A"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MnemonicFromAccelerator(c.caption), c.mnemonic) << c.caption;
        EXPECT_EQ(WithoutAccelerator(c.caption), c.read) << c.caption;
    }
}

// ---- the banner's bitmap -------------------------------------------------------

// A 24-bit bitmap of `width` x `height` whose pixel (x, y) from the top is
// (x, y, x + y); `topDown` stores the rows from the top.
std::string Bitmap(int width, int height, bool topDown) {
    const int stride = (width * 3 + 3) / 4 * 4;
    std::string b(54 + static_cast<size_t>(stride) * height, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b[at + i] = static_cast<char>(v >> (8 * i));
        }
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(topDown ? -height : height));
    b[26] = 1;
    b[28] = 24;
    for (int y = 0; y < height; ++y) {
        const int row = topDown ? y : height - 1 - y;
        for (int x = 0; x < width; ++x) {
            const size_t at = 54 + static_cast<size_t>(row) * stride + x * 3;
            b[at] = static_cast<char>(x + y);  // blue first
            b[at + 1] = static_cast<char>(y);
            b[at + 2] = static_cast<char>(x);
        }
    }
    return b;
}

TEST(Bmp, ReadsRowsInBothOrdersAndSkipsThePadding) {
    for (bool topDown : {false, true}) {
        const std::string file = Bitmap(5, 3, topDown);  // 15 bytes a row, one of padding
        ui::Image image;
        std::string error;
        ASSERT_TRUE(
            DecodeBmp(reinterpret_cast<const uint8_t*>(file.data()), file.size(), image, error))
            << error;
        ASSERT_EQ(image.width, 5);
        ASSERT_EQ(image.height, 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                const uint8_t* p = &image.rgb[(y * 5 + x) * 3];
                EXPECT_EQ(p[0], x);
                EXPECT_EQ(p[1], y);
                EXPECT_EQ(p[2], x + y);
            }
        }
    }
}

TEST(Bmp, RefusesWhatItCannotReadWithAReason) {
    const std::string good = Bitmap(4, 2, false);
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string eightBit = good;
    eightBit[28] = 8;
    std::string compressed = good;
    compressed[30] = 1;
    std::string farOffset = good;
    farOffset[10] = static_cast<char>(0xF0);
    std::string hugeWidth = good;
    hugeWidth[21] = 0x40;
    std::string zeroHeight = good;
    zeroHeight[22] = 0;
    const Case cases[] = {
        {"empty", ""},
        {"not a bitmap", "GIF89a" + std::string(60, '\0')},
        {"header only", good.substr(0, 54)},
        {"last row cut", good.substr(0, good.size() - 1)},
        {"8-bit", eightBit},
        {"compressed", compressed},
        {"pixels past the end", farOffset},
        {"huge width", hugeWidth},
        {"zero height", zeroHeight},
    };
    for (const Case& c : cases) {
        ui::Image image;
        std::string error;
        EXPECT_FALSE(DecodeBmp(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(),
                               image, error))
            << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_TRUE(image.rgb.empty()) << c.name;
    }
}

TEST(Bmp, TheBannerIsReadAtItsSize) {
    const auto banner = ui::artwork::Banner();
    ui::Image image;
    std::string error;
    ASSERT_TRUE(DecodeBmp(banner.data(), banner.size(), image, error)) << error;
    EXPECT_EQ(image.width, 658);
    EXPECT_EQ(image.height, 60);
    EXPECT_EQ(image.rgb.size(), 658u * 60u * 3u);
}

// A picture's artwork comes by its resource name, each kind decoded by its
// own reader, and is stretched to the control only when it says so.
TEST(Artwork, APictureResourceIsDecodedAtTheSizeAsked) {
    struct Case {
        std::string resource;
        bool stretch;
        int width, height;  // 0: no picture
        bool error;
    };
    const Case cases[] = {
        {"BRF_BANNER", false, 658, 60, false},   {"PORTAL_LOGO", true, 94, 60, false},
        {"PORTAL_LOGO", false, 188, 120, false}, {"BRF_BANNER", true, 94, 60, false},
        {"img_portal", true, 0, 0, true},        {"", true, 0, 0, false},
    };
    for (const Case& c : cases) {
        std::string error;
        const ui::Image image = ArtworkImage(c.resource, 94, 60, c.stretch, error);
        EXPECT_EQ(image.width, c.width) << c.resource;
        EXPECT_EQ(image.height, c.height) << c.resource;
        EXPECT_EQ(image.rgb.size(), static_cast<size_t>(c.width) * c.height * 3) << c.resource;
        EXPECT_EQ(!error.empty(), c.error) << c.resource << ": " << error;
    }
}

// ---- the loop --------------------------------------------------------------------

// A GLib loop's turn: waits for a source of the default context and
// dispatches it.
void GlibIteration(uint32_t) {
    g_main_context_iteration(g_main_context_default(), TRUE);
}

class GtkLoopTest : public ::testing::Test {
protected:
    GtkLoopTest() { plat::SetMainLoop(&loop); }
    ~GtkLoopTest() override {
        // Nothing of one case reaches the next.
        loop.ProcessMessages();
        plat::SetMainLoop(nullptr);
    }
    // Milliseconds that WaitMessage(timeout) blocked.
    long long TimedWait(int32_t timeoutMs) {
        const auto start = Clock::now();
        loop.WaitMessage(timeoutMs);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }
    GtkEventLoop loop;
};

TEST_F(GtkLoopTest, WaitMessageReturnsForAPostedTaskButDoesNotRunIt) {
    int runs = 0;
    plat::PostTask([&] { ++runs; });
    EXPECT_LT(TimedWait(5000), 1000);
    EXPECT_EQ(runs, 0);
    loop.ProcessMessages();
    EXPECT_EQ(runs, 1);
}

TEST_F(GtkLoopTest, ATaskPostedFromAnotherThreadEndsTheWait) {
    std::atomic<int> runs{0};
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        plat::PostTask([&] { ++runs; });
    });
    const long long waited = TimedWait(10000);
    poster.join();
    EXPECT_GE(waited, 50);
    EXPECT_LT(waited, 5000);
    loop.ProcessMessages();
    EXPECT_EQ(runs.load(), 1);
}

TEST_F(GtkLoopTest, TheWaitEndsAtThePlatformTimersDeadline) {
    int ticks = 0;
    plat::HiddenWindow window("GtkLoopTimer", plat::kWmTimer,
                              [&](uint32_t msg, uintptr_t, intptr_t) {
                                  if (msg == plat::kWmTimer) {
                                      ++ticks;
                                  }
                                  return intptr_t{0};
                              });
    ASSERT_TRUE(window.SetTimer(1, 120));
    const long long waited = TimedWait(-1);  // no limit of its own
    EXPECT_GE(waited, 80);
    EXPECT_LT(waited, 3000);
    loop.ProcessMessages();
    EXPECT_EQ(ticks, 1);
    window.KillTimer(1);
}

TEST_F(GtkLoopTest, ATimeOutEndsAnIdleWait) {
    const long long waited = TimedWait(150);
    EXPECT_GE(waited, 100);
    EXPECT_LT(waited, 3000);
}

TEST_F(GtkLoopTest, WaitMessageReturnsForAGlibSource) {
    int fired = 0;
    g_timeout_add(
        100,
        [](gpointer data) -> gboolean {
            ++*static_cast<int*>(data);
            return G_SOURCE_REMOVE;
        },
        &fired);
    const long long waited = TimedWait(10000);
    EXPECT_LT(waited, 5000);
    EXPECT_EQ(fired, 0);
    loop.ProcessMessages();
    EXPECT_EQ(fired, 1);
}

TEST_F(GtkLoopTest, AReadableSocketEndsTheWaitAndIsReported) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::vector<intptr_t> events;
    constexpr uint32_t kNotify = plat::kWmUser + 7;
    plat::HiddenWindow window("GtkLoopSocket", kNotify,
                              [&](uint32_t msg, uintptr_t, intptr_t lParam) {
                                  if (msg == kNotify) {
                                      events.push_back(lParam & 0xFFFF);
                                  }
                                  return intptr_t{0};
                              });
    ASSERT_EQ(
        plat::SockAsyncSelect(static_cast<plat::Socket>(pair[0]), window, kNotify, plat::kFdRead),
        0);
    loop.ProcessMessages();
    events.clear();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(write(pair[1], "x", 1), 1);
    });
    const long long waited = TimedWait(10000);
    writer.join();
    EXPECT_LT(waited, 5000);
    loop.ProcessMessages();
    EXPECT_EQ(events, std::vector<intptr_t>{plat::kFdRead});
    plat::SockClose(static_cast<plat::Socket>(pair[0]));
    close(pair[1]);
}

TEST_F(GtkLoopTest, ABusyPlatformCannotStarveGlibSourcesNorTheOtherWayRound) {
    // A task that posts itself again at once, and an idle source that is
    // always ready: each ProcessMessages must advance both.
    int tasks = 0;
    bool stop = false;
    std::function<void()> again = [&] {
        if (!stop) {
            ++tasks;
            plat::PostTask(again);
        }
    };
    plat::PostTask(again);
    int idles = 0;
    const guint idle = g_idle_add(
        [](gpointer data) -> gboolean {
            ++*static_cast<int*>(data);
            return G_SOURCE_CONTINUE;
        },
        &idles);
    for (int i = 0; i < 20; ++i) {
        loop.ProcessMessages();
    }
    g_source_remove(idle);
    EXPECT_GE(tasks, 20);
    EXPECT_GE(idles, 20);
    // The self-posting task is still queued; end it.
    stop = true;
    loop.ProcessMessages();
}

TEST_F(GtkLoopTest, PlatformMessagesRunInsideANestedGlibLoop) {
    // A dialog of GTK runs its own loop from inside a handler of ours: the
    // platform's messages must go on there (the source may recurse).
    bool inner = false;
    bool outerDone = false;
    plat::PostTask([&] {
        plat::PostTask([&] { inner = true; });
        brf_test::WaitFor([&] { return inner; }, {.boundMs = 5000, .pause = GlibIteration});
        outerDone = true;
    });
    // The outer task is started through GLib's dispatch, as a modal loop of
    // GTK would.
    EXPECT_TRUE(
        brf_test::WaitFor([&] { return outerDone; }, {.boundMs = 10000, .pause = GlibIteration}));
    EXPECT_TRUE(inner);
}

TEST_F(GtkLoopTest, ATerminationPostedFromAnotherThreadEndsRun) {
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        plat::PostTask([&] { loop.Terminate(); });
    });
    const auto start = Clock::now();
    loop.Run();
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(loop.Terminated());
}

}  // namespace
