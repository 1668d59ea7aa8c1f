#include "scene/gl_entry_points.h"

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "tests/support/gl_recorder.h"

namespace vendrake {
namespace {

using Lines = std::vector<std::string>;

struct TBound {
    int Core = 0;
    int GLU = 0;
    int WGL = 0;
    int Extension = 0;
};

TBound CountBound() {
    TBound bound;
#define VENDRAKE_GL_CORE(result, name, params, args) bound.Core += gl.name != nullptr;
#define VENDRAKE_GL_GLU(result, name, params, args) bound.GLU += gl.name != nullptr;
#define VENDRAKE_GL_WGL(result, name, params, args, target) bound.WGL += gl.name != nullptr;
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core) bound.Extension += gl.name != nullptr;
#include "scene/gl_functions.inc"
    return bound;
}

bool NothingBound() {
    const TBound bound = CountBound();
    return bound.Core == 0 && bound.GLU == 0 && bound.WGL == 0 && bound.Extension == 0;
}

// Any non-null handle will do for the recorder; it prints them all as "ptr".
HDC SomeDC() {
    static char surface;
    return reinterpret_cast<HDC>(&surface);
}

class OpenGLLoading : public ::testing::Test {
protected:
    void SetUp() override { CloseOpenGL(); }
    void TearDown() override { CloseOpenGL(); }
};

TEST(DynamicLibrary, LoadsLooksUpFreesAndKeepsTheLoaderMessage) {
    HMODULE libm = LoadLibraryA("libm.so.6");
    ASSERT_NE(libm, nullptr) << LastLibraryError();
    const auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(libm, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);

    EXPECT_EQ(GetProcAddress(libm, "vendrake_no_such_symbol"), nullptr);
    EXPECT_NE(LastLibraryError().find("vendrake_no_such_symbol"), std::string::npos) << LastLibraryError();
    EXPECT_TRUE(FreeLibrary(libm));

    EXPECT_EQ(LoadLibraryA("libvendrake-missing.so.7"), nullptr);
    EXPECT_NE(LastLibraryError().find("libvendrake-missing.so.7"), std::string::npos) << LastLibraryError();

    // A null module must not turn into a search of every loaded library.
    EXPECT_EQ(GetProcAddress(nullptr, "cos"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST_F(OpenGLLoading, SystemLibrariesBindCoreAndGLUByNameAndTheWGLGroupToOurs) {
    ASSERT_TRUE(LoadOpenGL("OpenGL32.DLL", "GLU32.DLL")) << LastOpenGLError();
    EXPECT_EQ(LastOpenGLError(), "");

    EXPECT_NE(gl.glAccum, nullptr);
    EXPECT_NE(gl.glClear, nullptr);
    EXPECT_NE(gl.glViewport, nullptr);
    EXPECT_NE(gl.gluPerspective, nullptr);
    EXPECT_NE(gl.gluBuild2DMipmaps, nullptr);
    const TBound bound = CountBound();
    EXPECT_GE(bound.Core, 336);
    EXPECT_EQ(bound.GLU, 51);
    EXPECT_EQ(bound.Extension, 0) << "extensions wait for a current context";

    EXPECT_EQ(gl.SetPixelFormat, &SetPixelFormat);
    EXPECT_EQ(gl.wglMakeCurrent, &wglMakeCurrent);
    EXPECT_EQ(gl.wglDescribePixelFormat, &wglDescribePixelFormat);
    EXPECT_EQ(gl.DescribePixelFormat, &wglDescribePixelFormat);

    // GLU answers this without a context, which shows the reference is the
    // library's own function.
    const auto* version = reinterpret_cast<const char*>(gl.gluGetString(GLU_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::string(version).substr(0, 2), "1.");

    CloseOpenGL();
    EXPECT_TRUE(NothingBound());
}

TEST_F(OpenGLLoading, AMissingLibraryReportsFalseLeavesEverythingUnboundAndNamesIt) {
    ASSERT_TRUE(LoadOpenGL("opengl32.dll", "glu32.dll")) << LastOpenGLError();

    EXPECT_FALSE(LoadOpenGL("libGL-vendrake-missing.so.1", "glu32.dll"));
    EXPECT_TRUE(NothingBound());
    EXPECT_EQ(gl.SetPixelFormat, nullptr);
    const std::string glMessage = LastOpenGLError();
    EXPECT_NE(glMessage.find("OpenGL library \"libGL-vendrake-missing.so.1\""), std::string::npos) << glMessage;
    EXPECT_NE(glMessage.find("cannot open shared object file"), std::string::npos) << glMessage;
    EXPECT_EQ(glMessage.find("GLU"), std::string::npos) << glMessage;

    EXPECT_FALSE(LoadOpenGL("opengl32.dll", "libGLU-vendrake-missing.so.1"));
    EXPECT_TRUE(NothingBound());
    const std::string gluMessage = LastOpenGLError();
    EXPECT_NE(gluMessage.find("GLU library \"libGLU-vendrake-missing.so.1\""), std::string::npos) << gluMessage;
    EXPECT_EQ(gluMessage.find("OpenGL library"), std::string::npos) << gluMessage;

    EXPECT_TRUE(LoadOpenGL("opengl32.dll", "glu32.dll"));
    EXPECT_EQ(LastOpenGLError(), "");
}

TEST(ReadExtensions, FindsNamesAnywhereInTheGLAndGLUStrings) {
    TGLRecorder recorder;
    recorder.SetString(GL_VERSION, "1.2.1 Vendor 4.0");
    recorder.SetString(GL_EXTENSIONS, "GL_EXT_texture3D GL_ARB_multitexture GL_EXT_abgr");
    recorder.SetGLUString(GLU_VERSION, "1.3");
    recorder.SetGLUString(GLU_EXTENSIONS, "GLU_EXT_nurbs_tessellator");

    ReadExtensions();
    EXPECT_EQ(recorder.Log(), (Lines{RecordedCall("glGetString", GL_VERSION), RecordedCall("gluGetString", GLU_VERSION),
                                     RecordedCall("glGetString", GL_EXTENSIONS),
                                     RecordedCall("gluGetString", GLU_EXTENSIONS)}));
    EXPECT_TRUE(glExtensions.EXT_texture) << "found inside GL_EXT_texture3D";
    EXPECT_TRUE(glExtensions.EXT_texture3D);
    EXPECT_TRUE(glExtensions.ARB_multitexture);
    EXPECT_FALSE(glExtensions.NV_vertex_array_range);
    EXPECT_TRUE(glExtensions.GLU.EXT_nurbs_tessellator);
    EXPECT_FALSE(glExtensions.GLU.EXT_object_space_tess);
    EXPECT_EQ(glExtensions.GLVersion.Major, 1);
    EXPECT_EQ(glExtensions.GLVersion.Minor, 2);
    EXPECT_EQ(glExtensions.GLUVersion.Minor, 3);

    // A second reading replaces the first.
    recorder.SetString(GL_EXTENSIONS, "GL_NV_vertex_array_range");
    ReadExtensions();
    EXPECT_FALSE(glExtensions.ARB_multitexture);
    EXPECT_FALSE(glExtensions.EXT_texture);
    EXPECT_TRUE(glExtensions.NV_vertex_array_range);
}

TEST(ReadExtensions, NoStringsFromTheDriverMeanNoExtensions) {
    TGLRecorder recorder;
    glExtensions.ARB_multitexture = true;
    ReadExtensions();
    EXPECT_FALSE(glExtensions.ARB_multitexture);
    EXPECT_EQ(glExtensions.GLVersion.Major, 0);
}

TEST(ExtensionListed, MatchesWholeNamesOnly) {
    const std::string_view extensions = "GL_EXT_texture3D GL_ARB_multitexture GL_EXT_abgr";
    EXPECT_TRUE(ExtensionListed(extensions, "GL_EXT_texture3D"));
    EXPECT_TRUE(ExtensionListed(extensions, "GL_ARB_multitexture"));
    EXPECT_TRUE(ExtensionListed(extensions, "GL_EXT_abgr"));
    EXPECT_FALSE(ExtensionListed(extensions, "GL_EXT_texture"));
    EXPECT_FALSE(ExtensionListed(extensions, "GL_ARB_multi"));
    EXPECT_FALSE(ExtensionListed(extensions, "multitexture"));
    EXPECT_FALSE(ExtensionListed(extensions, ""));
    EXPECT_FALSE(ExtensionListed("", "GL_EXT_abgr"));
}

TEST(ActivateContext, RebindsExtensionsOnlyWhenThePixelFormatChanges) {
    TGLRecorder recorder;
    recorder.ProvideAnyName(true);  // like Mesa: an address for every name
    recorder.SetPixelFormat(3);
    recorder.SetString(GL_VERSION, "1.2 Vendor");
    recorder.SetString(GL_EXTENSIONS, "GL_ARB_multitexture GL_EXT_compiled_vertex_array");
    const HGLRC rc = TGLRecorder::Context();

    ActivateContext(SomeDC(), rc);
    EXPECT_EQ(recorder.Log(), (Lines{"wglGetPixelFormat(ptr)", "wglMakeCurrent(ptr, ptr)",
                                     RecordedCall("glGetString", GL_EXTENSIONS),
                                     RecordedCall("glGetString", GL_VERSION)}));
    ASSERT_NE(gl.glActiveTextureARB, nullptr);
    EXPECT_NE(gl.glLockArraysEXT, nullptr);
    // Answered by the driver but neither listed nor in core 1.2.
    EXPECT_EQ(gl.glVertexArrayRangeNV, nullptr);
    EXPECT_EQ(gl.glPointParameterfEXT, nullptr);
    EXPECT_EQ(gl.wglSwapIntervalEXT, nullptr);

    recorder.ClearLog();
    gl.glActiveTextureARB(GL_TEXTURE1_ARB);
    EXPECT_EQ(recorder.Log(), Lines{RecordedCall("glActiveTextureARB", GL_TEXTURE1_ARB)});

    // Same pixel format: make current and nothing else, whatever the driver says now.
    recorder.SetString(GL_EXTENSIONS, "");
    recorder.ClearLog();
    ActivateContext(SomeDC(), rc);
    EXPECT_EQ(recorder.Log(), (Lines{"wglGetPixelFormat(ptr)", "wglMakeCurrent(ptr, ptr)"}));
    EXPECT_NE(gl.glLockArraysEXT, nullptr);

    // A new pixel format rebinds: multitexture now comes from the 1.3 core,
    // the compiled-vertex-array functions are gone.
    recorder.SetPixelFormat(4);
    recorder.SetString(GL_VERSION, "1.3");
    ActivateContext(SomeDC(), rc);
    EXPECT_NE(gl.glActiveTextureARB, nullptr);
    EXPECT_EQ(gl.glLockArraysEXT, nullptr);

    recorder.SetPixelFormat(5);
    recorder.SetString(GL_VERSION, "1.2");
    ActivateContext(SomeDC(), rc);
    EXPECT_EQ(gl.glActiveTextureARB, nullptr);
}

TEST(ActivateContext, TheReferenceAndTheBooleanAreIndependent) {
    TGLRecorder recorder;
    recorder.SetPixelFormat(1);
    recorder.SetString(GL_VERSION, "1.2");
    recorder.SetString(GL_EXTENSIONS, "GL_ARB_multitexture");
    recorder.Provide({"glMultiTexCoord2fvARB"});
    recorder.ClearLog();

    // Listed, but the driver does not provide glActiveTextureARB.
    ActivateContext(SomeDC(), TGLRecorder::Context());
    ReadExtensions();
    EXPECT_TRUE(glExtensions.ARB_multitexture);
    EXPECT_EQ(gl.glActiveTextureARB, nullptr);
    ASSERT_NE(gl.glMultiTexCoord2fvARB, nullptr);

    // Not listed, but a 1.3 driver provides it.
    recorder.Provide({"glActiveTextureARB"});
    recorder.SetPixelFormat(2);
    recorder.SetString(GL_VERSION, "1.3");
    recorder.SetString(GL_EXTENSIONS, "");
    ActivateContext(SomeDC(), TGLRecorder::Context());
    ReadExtensions();
    EXPECT_FALSE(glExtensions.ARB_multitexture);
    EXPECT_NE(gl.glActiveTextureARB, nullptr);
}

TEST(ActivateContext, ReleaseAndDestroyGoThroughTheTable) {
    {
        TGLRecorder recorder;
        DeactivateContext();
        DestroyContext(nullptr);
        DestroyContext(TGLRecorder::Context());
        EXPECT_EQ(recorder.Log(), (Lines{"wglMakeCurrent(null, null)", "wglDeleteContext(ptr)"}));
    }
    // With nothing loaded there is no context to touch, and no call through
    // an empty reference.
    CloseOpenGL();
    ActivateContext(SomeDC(), TGLRecorder::Context());
    DeactivateContext();
    DestroyContext(TGLRecorder::Context());
    EXPECT_TRUE(NothingBound());
}

} // namespace
} // namespace vendrake
