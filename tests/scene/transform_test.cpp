#include "stream/stream.h"
#include "scene/control.h"
#include "scene/transform.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vendrake;
using Lines = std::vector<std::string>;

namespace {

std::shared_ptr<TgrPRS> ReadPRS(std::int32_t owner, TVector3 p, TQuat q, float ignored = 0)
{
    TMemoryStream s;
    s.WriteInt32(owner);
    for (float f : {p.x, p.y, p.z, q.x, q.y, q.z, q.w, ignored, ignored, ignored})
        s.WriteSingle(f);
    EXPECT_EQ(s.Size(), 44);
    s.Seek(0);
    auto prs = std::make_shared<TgrPRS>();
    prs->ReadFromStream(s, false);
    EXPECT_EQ(s.Position(), 44);
    return prs;
}

std::string Mult(const TMatrix4& m)
{
    return RecordedCall("glMultMatrixf", std::vector<float>(m.m.begin(), m.m.end()));
}

// A node that logs through GL, so its place in the call order shows.
class TMarker : public TgrTree {
    VENDRAKE_NODE_CLASS(TMarker, TgrTree)
public:
    explicit TMarker(float id = 0) : FId(id) {}
    void Action() override
    {
        gl.glVertex2f(FId, 0);
        TgrTree::Action();
    }

private:
    float FId;
};

} // namespace

TEST(Transform, PayloadBuildsTheMatrix)
{
    const auto prs = ReadPRS(7, {1, 2, 3}, {1, 0, 0, 0}, 99);
    EXPECT_EQ(prs->OwnerId, 7);
    EXPECT_EQ(prs->Name, "");
    EXPECT_EQ(prs->Id, 0);
    const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(prs->Matrix[i], expected[i]) << i;

    // Rotation read as x, y, z, w and used with the transposed convention.
    const float s = std::sqrt(0.5f);
    const auto turn = ReadPRS(0, {0, 0, 0}, {s, 0, 0, s});
    EXPECT_EQ(turn->Rotation, (TQuat{s, 0, 0, s}));
    EXPECT_EQ(turn->Matrix, TQuaternion::ToMatrix({s, 0, 0, s}));
    EXPECT_NEAR(turn->Matrix[1], -1.0f, 1e-6f);

    // The three trailing floats change nothing.
    EXPECT_EQ(ReadPRS(7, {1, 2, 3}, {1, 0, 0, 0}, -1e30f)->Matrix, prs->Matrix);

    // Camera transforms are inverted once; a singular matrix stays.
    prs->InvertMatrix();
    EXPECT_EQ(prs->Matrix[12], -1.0f);
    EXPECT_EQ(prs->Matrix[14], -3.0f);
    const auto flat = ReadPRS(0, {5, 5, 5}, {0, 0.5f, 0.5f, 0}); // flattens z: singular
    const TMatrix4 before = flat->Matrix;
    flat->InvertMatrix();
    EXPECT_EQ(flat->Matrix, before);
}

TEST(Transform, PushApplyPaintPop)
{
    auto outer = ReadPRS(0, {1, 0, 0}, {1, 0, 0, 0});
    auto inner = outer->Add(ReadPRS(0, {0, 2, 0}, {1, 0, 0, 0}));
    inner->AddChild(std::make_shared<TMarker>(1));
    TGLRecorder rec;
    outer->Action();
    EXPECT_EQ(rec.Log(), (Lines{"glPushMatrix()", Mult(outer->Matrix), "glPushMatrix()",
                                Mult(inner->Matrix), "glVertex2f(1, 0)", "glPopMatrix()",
                                "glPopMatrix()"}));

    // Without PushMatrix the change accumulates and is never undone here.
    rec.ClearLog();
    inner->SetPushMatrix(false);
    inner->Action();
    EXPECT_EQ(rec.Log(), (Lines{Mult(inner->Matrix), "glVertex2f(1, 0)"}));
}

TEST(Transform, DeferredPopHappensWhenTheParentRestores)
{
    auto root = std::make_shared<TgrTree>();
    auto t = root->Add(ReadPRS(0, {1, 0, 0}, {1, 0, 0, 0}));
    t->SetAutoRestore(false);
    root->AddChild(std::make_shared<TMarker>(2));
    TGLRecorder rec;
    root->Action();
    EXPECT_EQ(rec.Log(), (Lines{"glPushMatrix()", Mult(t->Matrix), "glVertex2f(2, 0)", "glPopMatrix()"}));
}

TEST(Transform, CaptureReadsTheModelViewMatrix)
{
    TGLRecorder rec;
    rec.SetFloats(GL_MODELVIEW_MATRIX, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    TgrPositional p;
    p.CaptureMatrix = true;
    p.Action();
    EXPECT_EQ(p.WorldMatrix[0], 1.0f);
    EXPECT_EQ(p.WorldMatrix[15], 16.0f);
}

TEST(Control, BlendPushesAndPopsTheColourGroup)
{
    TGLRecorder rec;
    auto parent = std::make_shared<TgrTree>();
    auto additive = parent->Add(std::make_shared<TgrBlend>());
    additive->AddChild(std::make_shared<TMarker>(1));
    parent->Action();
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glPushAttrib", GL_COLOR_BUFFER_BIT),
                                RecordedCall("glEnable", GL_BLEND), RecordedCall("glBlendFunc", GL_ONE, GL_ONE),
                                "glVertex2f(1, 0)", "glPopAttrib()"}));

    // Two non-restoring siblings: two pushes, then two pops when the parent restores.
    rec.ClearLog();
    auto twice = std::make_shared<TgrTree>();
    for (int i = 0; i < 2; ++i) {
        auto b = twice->Add(std::make_shared<TgrBlend>());
        b->SourceFactor = GL_SRC_ALPHA;
        b->DestFactor = GL_ONE_MINUS_SRC_ALPHA;
        b->SetAutoRestore(false);
    }
    twice->AddChild(std::make_shared<TMarker>(3));
    twice->Action();
    const Lines log = rec.Log();
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[2], RecordedCall("glBlendFunc", GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA));
    EXPECT_EQ(log[6], "glVertex2f(3, 0)");
    EXPECT_EQ(log[7], "glPopAttrib()");
    EXPECT_EQ(log[8], "glPopAttrib()");
}

TEST(Control, CallbackHooksFollowTheRestoreProtocol)
{
    TGLRecorder rec;
    struct THooks {
        void Before() { gl.glDisable(GL_DEPTH_TEST); }
        void After() { gl.glVertex2f(9, 9); }
    } hooks;
    auto parent = std::make_shared<TgrTree>();
    auto cb = parent->Add(std::make_shared<TgrCallback>());
    cb->SetOnBefore(TgrCallback::Bind(&hooks, &THooks::Before));
    cb->SetOnAfter(TgrCallback::Bind(&hooks, &THooks::After));
    cb->AddChild(std::make_shared<TMarker>(1));
    parent->AddChild(std::make_shared<TMarker>(2));
    parent->Action();
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glDisable", GL_DEPTH_TEST), "glVertex2f(1, 0)",
                                "glVertex2f(9, 9)", "glVertex2f(2, 0)"}));

    // Not restoring itself, the after hook waits for the parent.
    rec.ClearLog();
    cb->SetAutoRestore(false);
    parent->Action();
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glDisable", GL_DEPTH_TEST), "glVertex2f(1, 0)",
                                "glVertex2f(2, 0)", "glVertex2f(9, 9)"}));

    rec.ClearLog();
    TgrCallback bare;
    bare.AddChild(std::make_shared<TMarker>(4));
    bare.Action();
    EXPECT_EQ(rec.Log(), (Lines{"glVertex2f(4, 0)"}));
}

TEST(Control, ChooserPaintsAndRestoresOnlyTheSelectedChild)
{
    TGLRecorder rec;
    TgrChooser chooser;
    for (int i = 0; i < 3; ++i)
        chooser.Add(std::make_shared<TgrBlend>())->AddChild(std::make_shared<TMarker>(float(i)));
    chooser.GetChild(2)->SetAutoRestore(false);
    const Lines push = {RecordedCall("glPushAttrib", GL_COLOR_BUFFER_BIT), RecordedCall("glEnable", GL_BLEND),
                        RecordedCall("glBlendFunc", GL_ONE, GL_ONE)};
    // Child 0 restores itself; the unpainted child 2 pushed nothing, so
    // nothing is popped for it.
    chooser.Action();
    Lines expected = push;
    expected.insert(expected.end(), {"glVertex2f(0, 0)", "glPopAttrib()"});
    EXPECT_EQ(rec.Log(), expected);

    // Child 2 waits for its parent's restore step: the chooser's.
    rec.ClearLog();
    chooser.Selected = 2;
    chooser.Action();
    expected = push;
    expected.insert(expected.end(), {"glVertex2f(2, 0)", "glPopAttrib()"});
    EXPECT_EQ(rec.Log(), expected);

    // A deferred restore undoes what was painted, once.
    rec.ClearLog();
    chooser.SetAutoRestore(false);
    chooser.Action();
    chooser.RestoreState();
    chooser.RestoreState();
    expected = push;
    expected.insert(expected.end(), {"glVertex2f(2, 0)", "glPopAttrib()"});
    EXPECT_EQ(rec.Log(), expected);

    rec.ClearLog();
    chooser.SetAutoRestore(true);
    chooser.Selected = 5;
    chooser.Action();
    EXPECT_EQ(rec.Log(), Lines{});
}
