#include "stream/chunk.h"
#include "stream/stream.h"
#include "scene/viewport.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

using namespace vendrake;
using Lines = std::vector<std::string>;

namespace {

// The renderer's canvas settings, on a window of the given client size.
void Configure(TgrCanvas& canvas, int width, int height)
{
    canvas.SetNear(0.2f);
    canvas.SetFar(1000.0f);
    canvas.SetFieldOfView(80.0f);
    canvas.SetDepthTest(true);
    canvas.SetUseViewport(true);
    canvas.SetAutoAspect(true);
    canvas.SetRect(0, 0, width, height);
}

} // namespace

TEST(Viewport, CanvasOnAnEightHundredBySixHundredWindow)
{
    TGLRecorder gl;
    TgrCanvas canvas(nullptr);
    Configure(canvas, 800, 600);
    canvas.Action();
    EXPECT_EQ(gl.Log(), (Lines{
                            "glDepthRange(0, 1)",
                            RecordedCall("glDepthFunc", GL_LESS),
                            RecordedCall("glEnable", GL_DEPTH_TEST),
                            RecordedCall("glDepthMask", GLboolean(GL_TRUE)),
                            "glViewport(0, 0, 800, 600)",
                            RecordedCall("glMatrixMode", GL_PROJECTION),
                            "glLoadIdentity()",
                            "gluPerspective(80, 1.3333334, 0.2, 1000)",
                            RecordedCall("glMatrixMode", GL_MODELVIEW),
                        }));
    EXPECT_EQ(canvas.Aspect, 800.0f / 600.0f);
}

TEST(Viewport, DegenerateRectangleKeepsViewportAndAspect)
{
    TGLRecorder gl;
    TgrCanvas canvas(nullptr);
    Configure(canvas, 1024, 0); // minimised
    canvas.SetAspect(1.5f);
    canvas.Action();
    const Lines log = gl.Log();
    for (const std::string& line : log)
        EXPECT_EQ(line.find("glViewport"), std::string::npos) << line;
    EXPECT_EQ(log[6], "gluPerspective(80, 1.5, 0.2, 1000)");
}

TEST(Viewport, CameraPayloadAndProjection)
{
    TMemoryStream s;
    TMasterChuncer w(&s);
    w.BeginChunk(ChunkGroupKey, 0x43414D52, 0);
    for (int v : {4, 0, 0, 0})
        s.WriteInt32(v);
    s.WriteSingle(45.0f);  // lens
    s.WriteSingle(5000.0f); // far
    s.WriteSingle(2.5f);   // near
    s.WriteInt32(-12345);  // ignored
    w.EndChunk();
    EXPECT_EQ(s.Size(), 20 + 32);

    s.Seek(0);
    TgrViewPort camera;
    camera.ReadFromStream(s, true);
    EXPECT_EQ(s.Position(), 52);
    EXPECT_EQ(camera.FieldOfView, 35.0f);
    EXPECT_EQ(camera.Near, 2.5f);
    EXPECT_EQ(camera.Far, 5000.0f);
    EXPECT_FALSE(camera.UseViewport);

    auto child = std::make_shared<TgrTree>();
    camera.AddChild(child);
    TGLRecorder gl;
    camera.Action();
    const Lines log = gl.Log();
    ASSERT_EQ(log.size(), 8u); // no viewport: its rectangle is empty
    EXPECT_EQ(log[6], "gluPerspective(35, 1.3333334, 2.5, 5000)");

    // A payload cut short raises the stream's read error.
    TMemoryStream shortPayload(std::vector<std::uint8_t>(16 + 8, 0));
    EXPECT_THROW(camera.ReadFromStream(shortPayload, false), EReadError);
}

TEST(Viewport, OrthoMapsPixelsWithYDown)
{
    TGLRecorder gl;
    TgrViewPort v;
    v.Ortho = true;
    v.SetRect(0, 0, 640, 480);
    v.DepthTest = false;
    v.DepthWrite = false;
    v.Action();
    const Lines log = gl.Log();
    EXPECT_EQ(log[2], RecordedCall("glDisable", GL_DEPTH_TEST));
    EXPECT_EQ(log[3], RecordedCall("glDepthMask", GLboolean(GL_FALSE)));
    EXPECT_EQ(log[6], "glOrtho(0, 640, 480, 0, 1, 1000)");
}

#include "scene/device.h"

TEST(Device, SwapAndDepthSwitches)
{
    TGLRecorder rec;
    TgrOpengl device;
    device.Swap();
    EXPECT_EQ(rec.Log(), (Lines{"wglSwapBuffers(null)"}));

    rec.ClearLog();
    device.FinishBeforeSwap = true;
    device.Swap();
    EXPECT_EQ(rec.Log(), (Lines{"glFlush()", "glFinish()", "wglSwapBuffers(null)"}));

    rec.ClearLog();
    device.setZReadOnly(true);
    device.setZBuffer(false);
    device.setZBuffer(true);
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glDepthMask", GLboolean(GL_FALSE)),
                                RecordedCall("glDisable", GL_DEPTH_TEST),
                                RecordedCall("glDepthMask", GLboolean(GL_FALSE)),
                                RecordedCall("glEnable", GL_DEPTH_TEST),
                                RecordedCall("glDepthMask", GLboolean(GL_TRUE))}));
}
