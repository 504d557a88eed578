#include "audio/wave_out.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/wav_recorder.h"
#include "tests/audio/temporary_directory.h"
#include "tests/support/manual_wave_out.h"

using namespace morvane;
using Step = ManualWaveOut::Step;

namespace {

// Fills block n (counting from 1) with the value n, so that a buffer tells which
// rendering it holds.
struct NumberedBlocks : BlockSource {
    int rendered = 0;
    bool RenderInto(std::int16_t* block) override {
        ++rendered;
        std::fill_n(block, kBlockSamples, static_cast<std::int16_t>(rendered));
        return true;
    }
};

struct ErrorBox : ErrorReporter {
    std::vector<std::string> shown;
    void ShowError(const std::string& message) override { shown.push_back(message); }
};

// Behaves as the main window: a close request that is granted closes at once.
struct Window : WaveOutOwner {
    WaveOut* stream = nullptr;
    int closeRequests = 0;
    bool closed = false;
    void RequestClose() override {
        ++closeRequests;
        if (stream->CloseQuery()) {
            stream->Close();
            closed = true;
        }
    }
};

// The stream with everything around it, as the window puts it together.
struct Rig {
    Rig() { window.stream = &stream; }
    // After priming, the completions that only unprepare.
    void CompleteSilentBuffers() { device.Complete(kPrimeCount - kMaxInFlight); }
    std::int16_t FirstSampleOf(int buffer) const { return stream.Header(buffer).Data[0]; }
    const WaveHeader* LastQueued() const { return device.QueuedAt(device.QueuedCount() - 1); }

    ManualWaveOut device;
    NumberedBlocks source;
    ErrorBox errors;
    Window window;
    WaveOut stream{device, source, errors, window};
};

} // namespace

TEST(Streaming, PrimesSilenceThenKeepsFiveQueuedRenderingFromThe22ndCompletion) {
    Rig r;
    ASSERT_TRUE(r.stream.OpenOutput());
    EXPECT_EQ(r.stream.CurrentBuffer(), kPrimeCount);
    EXPECT_EQ(r.stream.BuffersInFlight(), kPrimeCount);
    EXPECT_EQ(r.device.QueuedCount(), kPrimeCount);
    for (const auto& written : r.device.Written())
        EXPECT_TRUE(std::all_of(written.begin(), written.end(), [](auto s) { return s == 0; }));
    EXPECT_EQ(r.device.Written()[0].size(), static_cast<std::size_t>(kBlockSamples));

    const WaveHeader* first = r.device.QueuedAt(0);
    r.CompleteSilentBuffers();
    EXPECT_EQ(r.source.rendered, 0);
    EXPECT_EQ(r.stream.BuffersInFlight(), kMaxInFlight);
    EXPECT_FALSE(first->Prepared); // the finished buffer was unprepared, nothing more

    r.device.Complete();
    EXPECT_EQ(r.source.rendered, 1);
    EXPECT_EQ(r.LastQueued(), &r.stream.Header(kPrimeCount));
    EXPECT_EQ(r.FirstSampleOf(kPrimeCount), 1);
    EXPECT_EQ(r.stream.CurrentBuffer(), kPrimeCount + 1);
    EXPECT_EQ(r.stream.BuffersInFlight(), kMaxInFlight);
    EXPECT_TRUE(r.errors.shown.empty());
}

TEST(Streaming, RingWrapsFromTheLastBufferToTheFirst) {
    Rig r;
    r.stream.OpenOutput();
    r.CompleteSilentBuffers();
    r.device.Complete(kBufferCount - kPrimeCount); // renders into buffers 26 to 50
    EXPECT_EQ(r.stream.CurrentBuffer(), 0);
    EXPECT_EQ(r.FirstSampleOf(kBufferCount - 1), kBufferCount - kPrimeCount);

    r.device.Complete();
    EXPECT_EQ(r.FirstSampleOf(0), kBufferCount - kPrimeCount + 1);
    EXPECT_EQ(r.stream.CurrentBuffer(), 1);
    EXPECT_EQ(r.LastQueued(), &r.stream.Header(0));
}

TEST(Streaming, CloseRequestResetsAndIsRefusedThenTheLastReturnedBufferGrantsIt) {
    Rig r;
    r.stream.OpenOutput();
    r.CompleteSilentBuffers();
    r.device.Complete(3);

    EXPECT_FALSE(r.stream.CloseQuery());
    EXPECT_EQ(r.device.ResetCount(), 1);
    EXPECT_TRUE(r.stream.Closing());
    EXPECT_EQ(r.device.QueuedCount(), 0); // all sent back, completions not yet handled

    int rendered = r.source.rendered;
    for (int left = kMaxInFlight - 1; left > 0; --left) {
        r.device.DeliverNext();
        EXPECT_EQ(r.stream.BuffersInFlight(), left);
        EXPECT_FALSE(r.stream.CloseAllowed());
        EXPECT_FALSE(r.window.closed);
    }
    r.device.DeliverNext();
    EXPECT_EQ(r.source.rendered, rendered);
    EXPECT_TRUE(r.stream.CloseAllowed());
    EXPECT_EQ(r.window.closeRequests, 1);
    EXPECT_TRUE(r.window.closed);
    EXPECT_FALSE(r.device.IsOpen());
    EXPECT_EQ(r.device.CallsWhileClosed(), 0);
}

TEST(Streaming, DeviceThatCannotBeOpenedIsNeverTouchedAndTheWindowMayClose) {
    Rig r;
    r.device.FailNext(Step::Open);
    EXPECT_FALSE(r.stream.OpenOutput());
    EXPECT_EQ(r.errors.shown, std::vector<std::string>{"Problem creating play handle"});
    EXPECT_EQ(r.stream.ReadyToRecord().error().message, "No sound device: nothing can be recorded");
    EXPECT_TRUE(r.stream.CloseQuery());
    r.stream.Close();
    EXPECT_EQ(r.device.ResetCount(), 0);
    EXPECT_EQ(r.device.CallsWhileClosed(), 0);
    EXPECT_TRUE(r.device.Written().empty());
}

TEST(Streaming, FailedPrimingStopsButTheBuffersQueuedSoFarKeepStreaming) {
    for (auto [step, message] : {std::pair{Step::Prepare, "Out Prepare error"},
                                 std::pair{Step::Write, "Wave out error"}}) {
        Rig r;
        r.device.FailNext(step, 3);
        EXPECT_FALSE(r.stream.OpenOutput());
        EXPECT_EQ(r.errors.shown, std::vector<std::string>{message});
        EXPECT_EQ(r.stream.CurrentBuffer(), 3);
        EXPECT_EQ(r.stream.BuffersInFlight(), 3);

        r.device.Complete(10);
        EXPECT_EQ(r.device.QueuedCount(), 3);
        EXPECT_EQ(r.stream.CurrentBuffer(), 13);
    }
}

TEST(Streaming, FailedRequeueLeavesOneBufferFewerAndRendersTheSameBufferAgain) {
    struct Failure {
        Step step;
        const char* reason;
        const char* message;
    };
    for (auto [step, reason, message] :
         {Failure{Step::Prepare, "", "Out Prepare error"},
          Failure{Step::Write, "", "Wave out error"},
          Failure{Step::Write, "Device unavailable", "Wave out error: Device unavailable"}}) {
        Rig r;
        r.stream.OpenOutput();
        r.CompleteSilentBuffers();

        r.device.FailNext(step, 0, reason);
        r.device.Complete();
        EXPECT_EQ(r.errors.shown, std::vector<std::string>{message});
        EXPECT_EQ(r.stream.CurrentBuffer(), kPrimeCount);
        EXPECT_EQ(r.stream.BuffersInFlight(), kMaxInFlight - 1);

        r.device.Complete();
        EXPECT_EQ(r.FirstSampleOf(kPrimeCount), 2);
        EXPECT_EQ(r.LastQueued(), &r.stream.Header(kPrimeCount));
        EXPECT_EQ(r.stream.BuffersInFlight(), kMaxInFlight - 1);
    }
}

TEST(Streaming, FailedUnprepareIsReportedAndTheBlockStillQueued) {
    Rig r;
    r.stream.OpenOutput();
    r.CompleteSilentBuffers();
    r.device.FailNext(Step::Unprepare);
    r.device.Complete();
    EXPECT_EQ(r.errors.shown, std::vector<std::string>{"Out Un Prepare error"});
    EXPECT_EQ(r.source.rendered, 1);
    EXPECT_EQ(r.stream.BuffersInFlight(), kMaxInFlight);
}

TEST(Streaming, WindowMayCloseWhenFailedRequeuesLeftNothingQueued) {
    Rig r;
    r.device.FailNext(Step::Write, 1);
    r.stream.OpenOutput();
    r.device.FailNext(Step::Write);
    r.device.Complete();
    EXPECT_EQ(r.stream.BuffersInFlight(), 0);
    EXPECT_EQ(r.window.closeRequests, 0); // a failed requeue skips the close check

    EXPECT_TRUE(r.stream.CloseQuery());
}

TEST(Streaming, RecordsEveryRenderedBlockBeforeQueueingItEvenWhenTheDeviceRefusesIt) {
    Rig r;
    TemporaryDirectory dir;
    WavRecorder recorder(dir.Path(), r.errors);
    r.stream.SetRecorder(&recorder);
    r.stream.OpenOutput();
    r.CompleteSilentBuffers();
    ASSERT_TRUE(recorder.StartRecording().ok());

    r.device.Complete(2);
    r.device.FailNext(Step::Write);
    r.device.Complete();
    EXPECT_EQ(recorder.RecordedBlocks(), 3);
    EXPECT_EQ(r.source.rendered, 3);

    r.stream.CloseQuery();
    r.device.DeliverCompletions();
    EXPECT_TRUE(r.window.closed);
    EXPECT_FALSE(recorder.Recording()); // the close finished the file
    EXPECT_EQ(std::filesystem::file_size(recorder.FilePath()),
              static_cast<std::uintmax_t>(kWavHeaderBytes + 3 * kBlockBytes));
}

// The device goes away while playing and comes back later: one box for the loss, the
// buffers only come home, the close handshake works as ever, and the ring starts again
// as when it was opened.
TEST(Streaming, LostDeviceIsReportedOnceAndTheRingStartsAgainWhenItIsBack) {
    enum class Close { Never, WhileBuffersAreOut, WithNothingOut };
    struct Case {
        const char* name;
        Close close;
    };
    for (auto [name, close] : {Case{"back after the box", Close::Never},
                               Case{"close asked while buffers are out", Close::WhileBuffersAreOut},
                               Case{"close asked with nothing out", Close::WithNothingOut}}) {
        SCOPED_TRACE(name);
        Rig r;
        r.stream.OpenOutput();
        r.CompleteSilentBuffers();
        r.device.Complete(3);
        const int rendered = r.source.rendered;
        const std::size_t written = r.device.Written().size();

        r.device.Lose("Device unavailable");
        EXPECT_FALSE(r.stream.ReadyToRecord());
        if (close == Close::WhileBuffersAreOut) {
            EXPECT_FALSE(r.stream.CloseQuery());
        }
        r.device.DeliverCompletions();
        EXPECT_EQ(r.errors.shown, std::vector<std::string>{"Wave out error: Device unavailable"});
        EXPECT_EQ(r.stream.BuffersInFlight(), 0);
        EXPECT_EQ(r.source.rendered, rendered);
        EXPECT_EQ(r.device.Written().size(), written);
        EXPECT_EQ(r.device.CallsWhileClosed(), 0);
        if (close == Close::WhileBuffersAreOut) {
            EXPECT_TRUE(r.window.closed); // the last buffer home granted it
            continue;
        }
        EXPECT_EQ(r.window.closeRequests, 0);
        if (close == Close::WithNothingOut) {
            EXPECT_TRUE(r.stream.CloseQuery());
            r.stream.Close();
            EXPECT_FALSE(r.device.IsOpen());
            continue;
        }

        r.device.ComeBack();
        EXPECT_TRUE(r.stream.ReadyToRecord());
        EXPECT_EQ(r.stream.CurrentBuffer(), kPrimeCount);
        EXPECT_EQ(r.device.QueuedCount(), kPrimeCount);
        EXPECT_EQ(r.device.QueuedAt(0), &r.stream.Header(0));
        for (std::size_t i = written; i < r.device.Written().size(); ++i)
            EXPECT_EQ(r.device.Written()[i], std::vector<std::int16_t>(kBlockSamples, 0));
        r.CompleteSilentBuffers();
        EXPECT_EQ(r.source.rendered, rendered);
        r.device.Complete();
        EXPECT_EQ(r.FirstSampleOf(kPrimeCount), rendered + 1);
        EXPECT_EQ(r.errors.shown.size(), 1u);
    }
}
