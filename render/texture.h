#pragma once
// Texturing: texture maps hold an image and bind it, environments set how
// the texture combines with the fragment colour, a texture node ties a map
// and an environment to one texture unit, and a material's map record names
// the texture map its material uses.
#include "math/vector.h"
#include "scene/tree.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vendrake {

class TBitmap;
class TStream;
class TgrTexEnvSimple;

// An image for the GL: Width x Height pixels, rows bottom to top as
// glTexImage2D takes them, RGB or RGBA bytes.
class TgrTexmap : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrTexmap, TgrTree)
public:
    using TgrTree::TgrTree;
    // Deletes the texture object when the context it was made in is current
    // on the calling thread; otherwise that context keeps it until it goes.
    ~TgrTexmap() override;

    // Called at the end of loading from an image file.
    virtual void AfterLoad() {}
    // Uploads the image into the bound texture unless the map already has a
    // texture object of its own.
    virtual bool DrawTexture() = 0;
    // Gives the map its texture object and uploads the image into it.
    virtual bool Prepare(bool flag) = 0;
    virtual bool FreePixels() = 0;

    // Reads the named image file. Any failure (missing, unreadable or
    // undecodable file) leaves the map without pixels and is not reported:
    // a scene with a broken texture still plays.
    void LoadImageFile(const std::string& fileName) { LoadImageFile(fileName, 0, 0); }
    void LoadImageFile(const std::string& fileName, int forcedWidth, int forcedHeight);
    // Decodes the image at the stream's position, scales it to power-of-two
    // sides (or the forced ones, where > 0) and takes its pixels. Errors are
    // raised to the caller as the stream's read error, also for sides that
    // would take the scaled image beyond the bitmap limit.
    void LoadImageStream(TStream& stream, int forcedWidth, int forcedHeight);
    // Takes the bitmap's pixels: B, G, R[, A] become R, G, B[, A], rows turn
    // bottom first. Bitmaps of 16 bits or fewer give a buffer of the right
    // size that is left zero.
    void CopyPixels(const TBitmap& bitmap);
    // Mirrors the rows of Pixels.
    void FlipVertical();
    void SetLinear(bool value) { Linear = value; }
    void SetRepeat(bool value) { Repeat = value; }

    std::uint32_t TextureName = 0;    // 0: none yet
    std::uint64_t TextureContext = 0; // CurrentContextId when TextureName was made
    bool Linear = false;
    bool Repeat = false;
    bool Mipmap = false;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint8_t BitsPerPixel = 0;
    std::vector<std::uint8_t> Pixels; // empty: no image
    std::uint32_t Format = 0;         // pixel and internal format of the upload
};

class TgrTexMap2d : public TgrTexmap {
    VENDRAKE_NODE_CLASS(TgrTexMap2d, TgrTexmap)
public:
    using TgrTexmap::TgrTexmap;

    // The payload: node header (the name is the image file), then either
    // inline pixels, which are uploaded at once, or nothing, and the named
    // file is loaded.
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    // Enables 2D texturing and binds the map; the restore step pops both. A
    // map with an image but no texture object yet (one loaded from a file)
    // gets its object here, with the image uploaded once, nearest-filtered,
    // clamped and without mipmaps; later paints only bind it. A map without
    // an image binds texture 0.
    void Action() override;
    void RestoreState() override;
    bool DrawTexture() override;
    bool Prepare(bool flag) override;
    bool FreePixels() override;

private:
    // Whether DrawTexture has an image to hand over: pixels, enough of them
    // for Width x Height of Format.
    bool HasImage() const;
    // A new texture object, bound, with the image uploaded into it when asked.
    void CreateTexture(bool upload);
};

class TgrTexEnv : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrTexEnv, TgrTree)
public:
    using TgrTree::TgrTree;
    // This node as a simple environment, or null when it is not one.
    TgrTexEnvSimple* asSimple();

    TVector4 EnvColor; // GL_TEXTURE_ENV_COLOR
};

class TgrTexEnvSimple : public TgrTexEnv {
    VENDRAKE_NODE_CLASS(TgrTexEnvSimple, TgrTexEnv)
public:
    using TgrTexEnv::TgrTexEnv;
    void Action() override;
    void RestoreState() override;
    void SetMode(std::uint8_t value) { Mode = value; }

    // 0 replace, 1 decal, 2 modulate, 3 blend, 4 add; other values leave the
    // environment mode as it is.
    std::uint8_t Mode = 1;
};

// A texture map and an environment on one texture unit. The map and the
// environment are shared with whoever else holds them (the loader keeps
// every map in its list), and the texture's restore step undoes both.
class TgrTexture : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrTexture, TgrTree)
public:
    using TgrTree::TgrTree;
    void Action() override;
    void RestoreState() override;

    // The map, created empty when none is set.
    const std::shared_ptr<TgrTexMap2d>& GetTexMap();
    // The environment, created with its defaults when none is set.
    const std::shared_ptr<TgrTexEnvSimple>& GetTexEnv();
    // Both take the node over for restoring: its own AutoRestore goes off.
    void SetTexMap(std::shared_ptr<TgrTexMap2d> map);
    void SetTexEnv(std::shared_ptr<TgrTexEnvSimple> env);

    std::shared_ptr<TgrTexMap2d> TexMap;
    // A further node painted and restored between environment and map.
    TgrTreePtr TexNode;
    std::shared_ptr<TgrTexEnvSimple> TexEnv;
    std::uint8_t TexUnit = 0; // 0 to 3
    bool ResetUnits = false;  // switch texturing off on every unit first
};

// A material's map record: which texture map (by its position among the
// scene's texture maps) and its kind; kind 1 modulates, and blends by alpha
// when the image has it.
class TgrMap : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrMap, TgrTree)
public:
    using TgrTree::TgrTree;
    // 24 bytes: kind, texture number, two 8-byte values kept as read.
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    // A record paints nothing, not even its children.
    void Action() override {}

    std::int32_t TextureNumber = 0;
    std::uint64_t Value1 = 0; // payload bytes 16 to 23
    std::uint64_t Value2 = 0; // payload bytes 8 to 15
    std::int32_t MapKind = 0;
};

} // namespace vendrake
