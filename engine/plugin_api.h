#pragma once
/*
 * Writing an effect plug-in.
 *
 * A plug-in is a shared library that exports some of the functions below
 * with C linkage. The host opens it by file name, looks the exports up by
 * name and calls them; an export that is missing is simply not called, except
 * fx_create, without which the library cannot be used at all.
 *
 * Order of calls, for every effect the host creates from the library:
 *
 *   fx_setgl(lookup)                 main thread, before fx_create
 *   fx_create(effectName) -> handle  main thread
 *   getfxinfo(effectName) -> text    main thread, right after fx_create
 *   fx_addprop / fx_addoutput        main thread, once per property of the
 *                                    descriptor, in document order
 *   fx_init(handle, 0)               main thread, once per init pass, with
 *                                    the OpenGL context current
 *   fx_render(handle, time, delta)   render thread, once per painted frame,
 *                                    with the OpenGL context current
 *
 * The main-thread calls all happen before the render thread starts, so a
 * plug-in never sees two calls at once and needs no locks of its own.
 *
 * A negative handle from fx_create means "no instance": the host then calls
 * neither fx_init, fx_render, fx_addprop nor fx_addoutput for that effect.
 * "getinfo", "fx_start" and "fx_dispose" are looked up but never called; their
 * shape is the plug-in's own business.
 *
 * The descriptor. getfxinfo returns the effect's XML descriptor: an EFFECT
 * element with NAME, TYPE, COMPATIBLE and VERSION attributes holding a
 * DESCRIPTION and optional INIT, RUNTIME and OUTPUT sections of PROPERTY
 * elements (NAME, TYPE, and MIN and MAX for the types FLOAT and INT). An effect
 * whose TYPE is "Painter" (any letter case) is painted every frame. The text
 * belongs to the plug-in: the host copies it before making any other call
 * into the library, so static storage is the natural place for it. A null
 * result counts as an empty descriptor. The host refuses texts longer than
 * FX_MAX_DESCRIPTOR bytes.
 *
 * Property values. Each property and output is announced with the address of
 * its value block: FX_VALUE_BYTES bytes, aligned to 8, that stay at that
 * address for as long as the effect exists. The host neither reads nor writes
 * them; a wiring step or the application may, on the main thread before
 * rendering starts. How a value is laid out in its block is the plug-in's
 * choice (the sample keeps a float in the first four bytes).
 *
 * OpenGL. A plug-in links no OpenGL library. The host hands it a lookup
 * through fx_setgl; the lookup returns, for an OpenGL or GLU function name, an
 * entry that forwards each call to the host's own binding of that function,
 * so the call reaches the context the host made current. An entry whose
 * function the driver does not provide does nothing and returns 0. The
 * lookup returns null for a name it does not know. Both the lookup and the
 * entries it returns stay valid while the library is loaded. Cast an entry to
 * the function's own type before calling it.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FX_VALUE_BYTES 20
#define FX_MAX_DESCRIPTOR (1024 * 1024)

#if defined(__GNUC__)
#define VENDRAKE_FX_EXPORT __attribute__((visibility("default")))
#else
#define VENDRAKE_FX_EXPORT
#endif

typedef void (*TFxGLProc)(void);
typedef TFxGLProc (*TFxGLLookup)(const char* name);

/* The shapes of the entry points, as the host calls them. */
typedef int32_t (*TFxCreate)(const char* effectName);
typedef const char* (*TFxGetInfo)(const char* effectName);
typedef void (*TFxInit)(int32_t handle, int32_t reserved);
typedef void (*TFxRender)(int32_t handle, float time, float delta);
typedef void (*TFxAddProp)(int32_t handle, const char* name, void* value);
typedef void (*TFxAddOutput)(int32_t handle, const char* name, void* value);
typedef void (*TFxSetGL)(TFxGLLookup lookup);

/* Creates an instance of the named effect; negative when there is none. */
VENDRAKE_FX_EXPORT int32_t fx_create(const char* effectName);
/* The named effect's descriptor, owned by the plug-in (see above). */
VENDRAKE_FX_EXPORT const char* getfxinfo(const char* effectName);
/* Prepares an instance for painting; reserved is always 0. */
VENDRAKE_FX_EXPORT void fx_init(int32_t handle, int32_t reserved);
/* Paints one frame. time is the time since rendering started and delta the
 * last frame's duration, both in hundredths of a second. */
VENDRAKE_FX_EXPORT void fx_render(int32_t handle, float time, float delta);
/* Announces an input property (INIT or RUNTIME section) and its value block. */
VENDRAKE_FX_EXPORT void fx_addprop(int32_t handle, const char* name, void* value);
/* Announces an output (OUTPUT section) and its value block. */
VENDRAKE_FX_EXPORT void fx_addoutput(int32_t handle, const char* name, void* value);
/* Receives the OpenGL lookup. */
VENDRAKE_FX_EXPORT void fx_setgl(TFxGLLookup lookup);

#ifdef __cplusplus
}
#endif
