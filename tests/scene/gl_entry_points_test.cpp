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

TEST(OpenGLLibraryNames, WindowsNamesBecomeTheSystemLibrariesInAnyCaseOthersPassThrough) {
    EXPECT_EQ(NativeLibraryName("opengl32.dll"), "libGL.so.1");
    EXPECT_EQ(NativeLibraryName("OpenGL32.DLL"), "libGL.so.1");
    EXPECT_EQ(NativeLibraryName("OPENGL32.dll"), "libGL.so.1");
    EXPECT_EQ(NativeLibraryName("glu32.dll"), "libGLU.so.1");
    EXPECT_EQ(NativeLibraryName("GLU32.DLL"), "libGLU.so.1");

    EXPECT_EQ(NativeLibraryName("libGL.so.1"), "libGL.so.1");
    EXPECT_EQ(NativeLibraryName("opengl32.dll.bak"), "opengl32.dll.bak");
    EXPECT_EQ(NativeLibraryName("/opt/gl/opengl32.dll"), "/opt/gl/opengl32.dll");
    EXPECT_EQ(NativeLibraryName("Mesa/glu32.DLL"), "Mesa/glu32.DLL");
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

TEST(GLRecorder, LogsOneLinePerCallInTheDocumentedFormat) {
    TGLRecorder recorder;
    const GLfloat position[] = {1.5f, -2, 0, 1};
    const GLfloat direction[] = {0, 0, -1};
    const GLfloat shininess = 25;
    const GLfloat matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1};
    const GLfloat texCoord[] = {0.25f, 0.75f};
    const GLuint textures[] = {5, 6};
    const GLubyte pixels[4] = {};

    gl.glViewport(0, 0, 800, 600);
    gl.gluPerspective(80, 800.0f / 600.0f, 0.2f, 1000);
    gl.gluPerspective(80, 800.0 / 600.0, 0.2, 1000);
    gl.glClearColor(0, 0.1f, 1e-5f, 1);
    gl.glEnable(GL_DEPTH_TEST);
    gl.glDepthMask(GL_FALSE);
    gl.glLightfv(GL_LIGHT0, GL_POSITION, position);
    gl.glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, direction);
    gl.glMaterialfv(GL_FRONT, GL_SHININESS, &shininess);
    gl.glMultMatrixf(matrix);
    gl.glTexCoord2fv(texCoord);
    gl.glDeleteTextures(2, textures);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    gl.glVertexPointer(3, GL_FLOAT, 0, nullptr);
    gl.glPopMatrix();

    EXPECT_EQ(recorder.Log(), (Lines{
                                  "glViewport(0, 0, 800, 600)",
                                  "gluPerspective(80, 1.3333334, 0.2, 1000)",
                                  "gluPerspective(80, 1.3333333333333333, 0.2, 1000)",
                                  "glClearColor(0, 0.1, 1e-05, 1)",
                                  "glEnable(2929)",
                                  "glDepthMask(0)",
                                  "glLightfv(16384, 4611, {1.5, -2, 0, 1})",
                                  "glLightfv(16384, 4612, {0, 0, -1})",
                                  "glMaterialfv(1028, 5633, {25})",
                                  "glMultMatrixf({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1})",
                                  "glTexCoord2fv({0.25, 0.75})",
                                  "glDeleteTextures(2, {5, 6})",
                                  "glTexImage2D(3553, 0, 6408, 1, 1, 0, 6408, 5121, ptr)",
                                  "glVertexPointer(3, 5126, 0, null)",
                                  "glPopMatrix()",
                              }));
    EXPECT_EQ(RecordedCall("glLightfv", GL_LIGHT0, GL_POSITION, position), recorder.Log()[6]);
    EXPECT_EQ(RecordedCall("glColor4fv", std::vector<GLfloat>{1, 0.5f, 0, 1}), "glColor4fv({1, 0.5, 0, 1})");

    recorder.ClearLog();
    EXPECT_TRUE(recorder.Log().empty());
}

TEST(GLRecorder, AnswersQueriesFromWhatTheTestSet) {
    TGLRecorder recorder;
    recorder.SetIntegers(GL_MAX_LIGHTS, {8});
    recorder.SetBooleans(GL_LIGHTING, {GL_TRUE});
    recorder.SetFloats(GL_MODELVIEW_MATRIX, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f, 0, -3, 1});
    recorder.SetString(GL_VENDOR, "Vendrake test double");
    recorder.PushError(GL_INVALID_OPERATION);

    GLint lights = 0;
    gl.glGetIntegerv(GL_MAX_LIGHTS, &lights);
    EXPECT_EQ(lights, 8);
    GLboolean lighting = GL_FALSE;
    gl.glGetBooleanv(GL_LIGHTING, &lighting);
    EXPECT_EQ(lighting, GL_TRUE);
    GLfloat modelview[16] = {};
    gl.glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    EXPECT_EQ(modelview[12], 0.5f);
    GLint unset = 42;
    gl.glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &unset);
    EXPECT_EQ(unset, 0);

    EXPECT_STREQ(reinterpret_cast<const char*>(gl.glGetString(GL_VENDOR)), "Vendrake test double");
    EXPECT_EQ(gl.glGetString(GL_RENDERER), nullptr);
    EXPECT_EQ(gl.glGetError(), static_cast<GLenum>(GL_INVALID_OPERATION));
    EXPECT_EQ(gl.glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    EXPECT_EQ(gl.glGenLists(1), 1u);
    EXPECT_EQ(gl.glGenLists(2), 2u);
    EXPECT_EQ(gl.glGenLists(1), 4u);
    GLuint names[2] = {};
    gl.glGenTextures(2, names);
    EXPECT_EQ(names[1], 2u);

    EXPECT_EQ(recorder.Log(), (Lines{
                                  "glGetIntegerv(3377, {8})",
                                  "glGetBooleanv(2896, {1})",
                                  "glGetFloatv(2982, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5, 0, -3, 1})",
                                  "glGetIntegerv(34016, {0})",
                                  "glGetString(7936)",
                                  "glGetString(7937)",
                                  "glGetError()",
                                  "glGetError()",
                                  "glGenLists(1)",
                                  "glGenLists(2)",
                                  "glGenLists(1)",
                                  "glGenTextures(2, {1, 2})",
                              }));
}

TEST(GLRecorder, StandsInForThePixelFormatFunctions) {
    TGLRecorder recorder;
    PIXELFORMATDESCRIPTOR single{}, doubled{};
    single.cColorBits = 16;
    doubled.cColorBits = 32;
    doubled.dwFlags = PFD_DOUBLEBUFFER;
    recorder.SetPixelFormats({single, doubled});

    EXPECT_EQ(gl.DescribePixelFormat(SomeDC(), 0, 0, nullptr), 2);
    PIXELFORMATDESCRIPTOR described{};
    EXPECT_EQ(gl.wglDescribePixelFormat(SomeDC(), 2, sizeof described, &described), 2);
    EXPECT_EQ(described.cColorBits, 32);
    EXPECT_EQ(described.dwFlags, PFD_DOUBLEBUFFER);

    EXPECT_EQ(gl.wglGetPixelFormat(SomeDC()), 0);
    EXPECT_TRUE(gl.SetPixelFormat(SomeDC(), 2, &described));
    EXPECT_EQ(gl.wglGetPixelFormat(SomeDC()), 2);
    recorder.FailSetPixelFormat(true);
    EXPECT_FALSE(gl.SetPixelFormat(SomeDC(), 1, &described));
    EXPECT_EQ(gl.wglGetPixelFormat(SomeDC()), 2);
    EXPECT_EQ(gl.wglCreateContext(SomeDC()), TGLRecorder::Context());

    EXPECT_EQ(recorder.Log(), (Lines{
                                  "DescribePixelFormat(ptr, 0, 0, null)",
                                  "wglDescribePixelFormat(ptr, 2, 40, ptr)",
                                  "wglGetPixelFormat(ptr)",
                                  "SetPixelFormat(ptr, 2, ptr)",
                                  "wglGetPixelFormat(ptr)",
                                  "SetPixelFormat(ptr, 1, ptr)",
                                  "wglGetPixelFormat(ptr)",
                                  "wglCreateContext(ptr)",
                              }));
}

TEST(GLRecorder, PutsBackTheTableItReplaced) {
    CloseOpenGL();
    {
        TGLRecorder outer;
        outer.Provide({"glActiveTextureARB"});
        glExtensions.ARB_multitexture = true;
        {
            TGLRecorder inner;
            EXPECT_EQ(gl.glActiveTextureARB, nullptr) << "a new recorder starts with no extensions";
            EXPECT_FALSE(glExtensions.ARB_multitexture);
            gl.glFlush();
            EXPECT_EQ(inner.Log(), Lines{"glFlush()"});
            EXPECT_THROW(inner.Provide({"glClear"}), std::invalid_argument);
        }
        EXPECT_NE(gl.glActiveTextureARB, nullptr);
        EXPECT_TRUE(glExtensions.ARB_multitexture);
        gl.glFinish();
        EXPECT_EQ(outer.Log(), Lines{"glFinish()"});
    }
    EXPECT_TRUE(NothingBound());
    EXPECT_FALSE(glExtensions.ARB_multitexture);
}

} // namespace
} // namespace vendrake
