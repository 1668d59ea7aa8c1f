// The renderer and its render thread against the recording GL double, with
// a counter the test drives, so frame times and call sequences are exact.
#include "engine/renderer.h"
#include "platform/application.h"
#include "platform/clock.h"
#include "scene/device.h"
#include "scene/viewport.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace vendrake {
namespace {

using Strings = std::vector<std::string>;

// The first reading is 2^40; each later one adds the next step (cycling).
class TFakeClock {
public:
    explicit TFakeClock(std::vector<std::int64_t> steps)
        : FSteps(std::move(steps)), FOverride([this] { return Read(); })
    {
    }
    std::size_t Reads() const
    {
        std::lock_guard lock(FLock);
        return FReads;
    }
    std::int64_t Step(std::size_t frame) const { return FSteps[frame % FSteps.size()]; }

private:
    std::int64_t Read()
    {
        std::lock_guard lock(FLock);
        if (FReads++ > 0)
            FNow += Step(FReads - 2);
        return FNow;
    }

    mutable std::mutex FLock;
    std::vector<std::int64_t> FSteps;
    std::int64_t FNow = std::int64_t(1) << 40;
    std::size_t FReads = 0;
    TCounterSourceOverride FOverride;
};

struct TRenderCall {
    std::string Name;
    float Time;
    float Delta;
};

// Written on the render thread; read under the lock, or after it stopped.
struct TRenderLog {
    std::mutex Lock;
    std::vector<TRenderCall> Calls;

    std::size_t Count()
    {
        std::lock_guard lock(Lock);
        return Calls.size();
    }
};

class TRecordingEffect : public TInternalEffect {
public:
    TRecordingEffect(std::string name, std::string type, TRenderLog& log)
        : FName(std::move(name)), FLog(log)
    {
        SetEffectType(std::move(type));
    }
    void Render(float Time, float Delta) override
    {
        std::lock_guard lock(FLog.Lock);
        FLog.Calls.push_back({FName, Time, Delta});
    }
    void Init(std::int32_t Param) override { OnInit(Param); }
    std::function<void(std::int32_t)> OnInit = [](std::int32_t) {};

private:
    std::string FName;
    TRenderLog& FLog;
};

// Feeds an input of `to` from an output of `from`.
void Link(TInternalEffect& to, TInternalEffect& from)
{
    auto output = std::make_unique<TPropertyInfo>();
    output->Owner = &from;
    auto input = std::make_unique<TPropertyInfo>();
    input->Owner = &to;
    input->Link = &from.Outputs().Add(std::move(output));
    to.Properties().Add(std::move(input));
}

bool WaitUntil(const std::function<bool()>& done, bool pumpMainThread = false)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        if (pumpMainThread)
            TMainThreadQueue::Instance().RunPending();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Counts the viewport updates and notes any that ran off the main thread.
class TCountingRenderer : public TRenderer {
public:
    std::atomic<int> Updates{0};
    std::atomic<bool> OffMainThread{false};
    std::atomic<bool> ResizeDuringFirstUpdate{false};

protected:
    class TThread : public TRenderThread {
    public:
        explicit TThread(TCountingRenderer& owner) : FOwner(owner) {}

    protected:
        void UpdateViewport() override
        {
            FOwner.OffMainThread = FOwner.OffMainThread || !IsMainThread();
            if (++FOwner.Updates == 1 && FOwner.ResizeDuringFirstUpdate)
                RequestResize();
            TRenderThread::UpdateViewport();
        }
        TCountingRenderer& FOwner;
    };
    std::unique_ptr<TRenderThread> NewThread() override { return std::make_unique<TThread>(*this); }
};

// A renderer on the recording double: a device without a window and a
// 640 by 480 canvas.
template <class T = TRenderer> std::unique_ptr<T> MakeRenderer()
{
    auto renderer = std::make_unique<T>();
    renderer->SetDevice(std::make_unique<TgrOpengl>());
    renderer->SetupCanvas();
    renderer->Canvas()->SetRect(0, 0, 640, 480);
    return renderer;
}

void RunFrames(TRenderer& renderer, const TFakeClock& clock, std::size_t frames)
{
    renderer.CreateThread();
    renderer.Start();
    EXPECT_TRUE(WaitUntil([&] { return clock.Reads() > frames; }));
    renderer.StopThread();
}

const Strings Bind{"wglGetPixelFormat(null)", "wglMakeCurrent(null, null)"};
const std::string Release = "wglMakeCurrent(null, null)";
const std::string Clear =
    RecordedCall("glClear", GLbitfield(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT));

TEST(RenderLoop, FrameTimeIsTheFloatSumOfTheDeltasInHundredthsOfASecond)
{
    TGLRecorder recorder;
    // Eight eighths of a second, then from a nanosecond to a whole second.
    TFakeClock clock({125'000'000, 125'000'000, 125'000'000, 125'000'000, 125'000'000,
                      125'000'000, 125'000'000, 125'000'000, 1, 16'666'667, 123'456'789,
                      1'000'000'000});
    TRenderLog log;
    auto renderer = MakeRenderer();
    renderer->Effects()->Add(std::make_shared<TRecordingEffect>("A", "Painter", log));
    RunFrames(*renderer, clock, 24);

    ASSERT_GE(log.Calls.size(), 24u);
    float time = 0;
    for (std::size_t i = 0; i < log.Calls.size(); ++i) {
        time += log.Calls[i].Delta;
        ASSERT_EQ(log.Calls[i].Time, time) << "frame " << i;
    }
    EXPECT_EQ(log.Calls[0].Delta, 12.5f);
    EXPECT_EQ(log.Calls[7].Time, 100.0f);
    EXPECT_EQ(log.Calls[11].Delta, 100.0f);
}

TEST(RenderLoop, FrameWithoutEffectsClearsToOpaqueBlackAppliesTheCanvasAndSwaps)
{
    TGLRecorder recorder;
    auto renderer = MakeRenderer();
    renderer->CreateThread();
    // The frame hook sees the frame already swapped.
    std::vector<std::size_t> loggedAtHook;
    renderer->Thread()->SetOnFrame([&] { loggedAtHook.push_back(recorder.Log().size()); });
    recorder.ClearLog();
    renderer->Thread()->RenderFrame();
    EXPECT_EQ(loggedAtHook, std::vector<std::size_t>{recorder.Log().size()});
    const float aspect = static_cast<float>(640.0 / 480.0);
    EXPECT_EQ(recorder.Log(),
              (Strings{RecordedCall("glClearColor", 0.0f, 0.0f, 0.0f, 1.0f), Clear,
                       RecordedCall("glDepthRange", 0.0, 1.0),
                       RecordedCall("glDepthFunc", GLenum(GL_LESS)),
                       RecordedCall("glEnable", GL_DEPTH_TEST),
                       RecordedCall("glDepthMask", GLboolean(GL_TRUE)),
                       RecordedCall("glViewport", 0, 0, 640, 480),
                       RecordedCall("glMatrixMode", GL_PROJECTION), "glLoadIdentity()",
                       RecordedCall("gluPerspective", double(80.0f), double(aspect),
                                    double(0.2f), double(1000.0f)),
                       RecordedCall("glMatrixMode", GL_MODELVIEW), "wglSwapBuffers(null)"}));
}

TEST(RenderLoop, PaintersStartChainsInputsComeFirstAndEachEffectPaintsOncePerFrame)
{
    TGLRecorder recorder;
    TFakeClock clock({10'000'000});
    TRenderLog log;
    auto renderer = MakeRenderer();
    auto add = [&](const char* name, const char* type) {
        auto effect = std::make_shared<TRecordingEffect>(name, type, log);
        renderer->Effects()->Add(effect);
        return effect;
    };
    add("lower", "painter");
    add("untyped", "");
    add("mixed", "Painter");
    auto paint = add("paint", "PAINT");
    auto source = add("source", "");
    auto first = add("first", "PAINTER");
    auto second = add("second", "painter");
    auto x = add("x", "Painter");
    auto y = add("y", "pAiNtEr");
    TRecordingEffect outside("outside", "", log); // linked, but in no list
    Link(*first, *source);
    Link(*first, outside);
    Link(*second, *source);
    Link(*second, *paint);
    Link(*x, *y);
    Link(*y, *x);
    RunFrames(*renderer, clock, 4);

    const Strings frame{"lower", "mixed", "source", "outside", "first", "paint", "second", "y", "x"};
    ASSERT_GE(log.Calls.size(), 4 * frame.size());
    for (std::size_t i = 0; i < log.Calls.size(); ++i) {
        EXPECT_EQ(log.Calls[i].Name, frame[i % frame.size()]) << "call " << i;
        EXPECT_EQ(log.Calls[i].Time, log.Calls[i - i % frame.size()].Time) << "call " << i;
    }
}

TEST(RenderLoop, InitPassBindsTheContextPassesZeroAndReleasesEvenOnError)
{
    TGLRecorder recorder;
    TRenderLog log;
    auto renderer = MakeRenderer();
    std::vector<std::int32_t> params;
    auto a = std::make_shared<TRecordingEffect>("a", "", log);
    auto b = std::make_shared<TRecordingEffect>("b", "", log);
    a->OnInit = [&](std::int32_t p) { params.push_back(p), gl.glEnable(GL_FOG); };
    b->OnInit = [&](std::int32_t p) { params.push_back(p), gl.glEnable(GL_BLEND); };
    renderer->Effects()->Add(a);
    renderer->Effects()->Add(b);
    recorder.ClearLog();
    renderer->InitEffects();
    EXPECT_EQ(recorder.Log(), (Strings{Bind[0], Bind[1], RecordedCall("glEnable", GL_FOG),
                                       RecordedCall("glEnable", GL_BLEND), Release}));
    EXPECT_EQ(params, (std::vector<std::int32_t>{0, 0}));

    a->OnInit = [](std::int32_t) { throw std::runtime_error("bad scene"); };
    recorder.ClearLog();
    EXPECT_THROW(renderer->InitEffects(), std::runtime_error);
    EXPECT_EQ(recorder.Log(), (Strings{Bind[0], Bind[1], Release}));
}

TEST(RenderLoop, ResizeRequestGivesOneViewportUpdateOnTheMainThread)
{
    TGLRecorder recorder;
    TFakeClock clock({10'000'000});
    auto renderer = MakeRenderer<TCountingRenderer>();
    renderer->RequestResize();
    EXPECT_EQ(renderer->Thread(), nullptr);

    renderer->CreateThread();
    renderer->RequestResize();
    renderer->Start();
    // The first frame waits until the main thread has run the update.
    ASSERT_TRUE(WaitUntil([&] { return clock.Reads() > 30; }, true));
    EXPECT_EQ(renderer->Updates, 1);

    // A resize arriving while the main thread runs the update is not lost.
    renderer->ResizeDuringFirstUpdate = true;
    renderer->Updates = 0;
    renderer->RequestResize();
    const std::size_t reads = clock.Reads();
    ASSERT_TRUE(WaitUntil([&] { return clock.Reads() > reads + 30; }, true));
    EXPECT_EQ(renderer->Updates, 2);
    EXPECT_FALSE(renderer->OffMainThread);
    renderer->StopThread();
}

TEST(RenderLoop, StopThreadEndsANeverResumedThreadBeforeReturning)
{
    TGLRecorder recorder;
    TFakeClock clock({10'000'000});
    TRenderLog log;
    auto renderer = MakeRenderer();
    renderer->Effects()->Add(std::make_shared<TRecordingEffect>("A", "Painter", log));
    renderer->CreateThread();
    EXPECT_TRUE(renderer->Thread()->Suspended());
    recorder.ClearLog();
    renderer->StopThread();

    EXPECT_EQ(renderer->Thread(), nullptr);
    EXPECT_TRUE(log.Calls.empty());
    // The body ran to its end (bind, finish, release) without a frame; only
    // then did the calling thread take the context back.
    EXPECT_EQ(recorder.Log(), (Strings{Bind[0], Bind[1], "glFinish()", Release, Bind[0], Bind[1],
                                       "glFinish()", Release}));
}

// Throws from its third frame's Render.
class TFailingEffect : public TInternalEffect {
public:
    TFailingEffect() { SetEffectType("Painter"); }
    void Render(float, float) override
    {
        if (++FRenders == 3)
            throw std::runtime_error("the effect broke");
    }

private:
    int FRenders = 0;
};

TEST(RenderLoop, AFailingFrameEndsTheLoopAndIsReportedAtOnce)
{
    TGLRecorder recorder;
    TFakeClock clock({10'000'000});
    TRenderLog log;
    auto renderer = MakeRenderer();
    renderer->Effects()->Add(std::make_shared<TRecordingEffect>("A", "Painter", log));
    renderer->Effects()->Add(std::make_shared<TFailingEffect>());
    renderer->CreateThread();
    std::atomic<int> swapped{0};
    std::atomic<bool> failed{false};
    renderer->Thread()->SetOnFrame([&] { ++swapped; });
    renderer->Thread()->SetOnFailure([&] { failed = true; });
    renderer->Start();
    ASSERT_TRUE(WaitUntil([&] { return failed.load(); })) << "the failure was never reported";
    renderer->StopThread();

    // Nobody asked the loop to stop: the failure ended it in its third frame.
    EXPECT_EQ(swapped.load(), 2);
    EXPECT_EQ(log.Calls.size(), 3u);
    ASSERT_TRUE(renderer->ThreadFailure());
    try {
        std::rethrow_exception(renderer->ThreadFailure());
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "the effect broke");
    }
    // The context was given back on the way out, before the stop took it.
    const Strings calls = recorder.Log();
    EXPECT_GE(std::count(calls.begin(), calls.end(), Release), 2);
}

TEST(RenderLoop, StopWhileTheRenderThreadWaitsForTheMainThreadDoesNotDeadlock)
{
    TGLRecorder recorder;
    auto renderer = MakeRenderer<TCountingRenderer>();
    renderer->CreateThread();
    renderer->RequestResize();
    renderer->Start();
    ASSERT_TRUE(WaitUntil([&] {
        const Strings calls = recorder.Log();
        return std::find(calls.begin(), calls.end(), Clear) != calls.end();
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(renderer->Updates, 0) << "nobody has run the main thread's queue yet";
    renderer->StopThread();
    EXPECT_EQ(renderer->Updates, 1);
}

TEST(RenderLoop, ManyStartResizeStopCycles)
{
    TGLRecorder recorder;
    TRenderLog log;
    auto renderer = MakeRenderer<TCountingRenderer>();
    renderer->Effects()->Add(std::make_shared<TRecordingEffect>("A", "Painter", log));
    int waited = 0;
    for (int cycle = 0; cycle < 60; ++cycle) {
        // Stopped without ever running, at once, or after frames with
        // updates handed over between them.
        renderer->CreateThread();
        renderer->RequestResize();
        if (cycle % 3 != 2)
            renderer->Start();
        if (cycle % 3 == 1) {
            const std::size_t before = log.Count();
            for (std::size_t i = 0; i < 3; ++i) {
                ASSERT_TRUE(WaitUntil([&] { return log.Count() > before + i; }, true));
                renderer->RequestResize();
            }
            ++waited;
        }
        renderer->StopThread();
        recorder.ClearLog();
    }
    EXPECT_FALSE(renderer->OffMainThread);
    EXPECT_GE(renderer->Updates, waited);
}

} // namespace
} // namespace vendrake
