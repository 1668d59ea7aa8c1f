#include "render/texture.h"

#include "stream/stream.h"
#include "platform/bitmap.h"
#include "render/image_readers.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>

namespace vendrake {

namespace {

// glPushAttrib masks as the nodes push them.
constexpr GLbitfield TextureAndEnableBits = GL_TEXTURE_BIT | GL_ENABLE_BIT; // 0x42000
constexpr GLbitfield AllAttribBits = 0x000FFFFF;
// The upload format a 9- to 16-bit image gets (GL_RGB5).
constexpr std::uint32_t SixteenBitFormat = 0x8050;
// GL_ARB_multitexture names at most 32 units.
constexpr GLint MaxTextureUnits = 32;

// Components glTexImage2D reads per pixel for the formats a map can have;
// 0 for formats the GL refuses as a pixel format, which it reads nothing for.
std::size_t ComponentsOf(std::uint32_t format)
{
    switch (format) {
    case GL_ALPHA: return 1;
    case GL_RGB: return 3;
    case GL_RGBA: return 4;
    default: return 0;
    }
}

// The next power of two for a side that is not one already. Sides beyond
// 2^30 stay as they are (no reader produces them; the bitmap limit refuses
// them).
int PowerOfTwoSide(int side)
{
    if (side > (1 << 30))
        return side;
    return static_cast<int>(std::bit_ceil(static_cast<unsigned>(side)));
}

// Colour-mapped, grey and 15/16-bit images as 24-bit B, G, R, so that they
// reach the GL as what they show.
TBitmap ToTrueColour(const TBitmap& image)
{
    const int w = image.Width(), h = image.Height();
    TBitmap out(w, h, TPixelFormat::pf24bit);
    const int bits = BitsPerPixel(image.PixelFormat());
    if (bits == 15 || bits == 16) {
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* s = image.ScanLine(y);
            std::uint8_t* d = out.ScanLine(y);
            for (int x = 0; x < w; ++x, s += 2, d += 3) {
                const unsigned word = unsigned(s[0]) | (unsigned(s[1]) << 8);
                const auto expand = [](unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); };
                d[0] = expand(word & 0x1F);
                d[1] = expand((word >> 5) & 0x1F);
                d[2] = expand((word >> 10) & 0x1F);
            }
        }
        return out;
    }
    // 1, 4 and 8 bits index the palette; a missing palette reads as grey and
    // indices past its end as black.
    std::array<std::array<std::uint8_t, 3>, 256> table{};
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        if (image.Palette.empty())
            table[std::size_t(i)] = {v, v, v};
        else if (std::size_t(i) < image.Palette.size())
            table[std::size_t(i)] = {image.Palette[std::size_t(i)].Blue, image.Palette[std::size_t(i)].Green,
                                     image.Palette[std::size_t(i)].Red};
    }
    const int perByte = 8 / bits;
    const int mask = (1 << bits) - 1;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = image.ScanLine(y);
        std::uint8_t* d = out.ScanLine(y);
        for (int x = 0; x < w; ++x, d += 3) {
            const int shift = (perByte - 1 - x % perByte) * bits;
            const auto& bgr = table[std::size_t((s[x / perByte] >> shift) & mask)];
            d[0] = bgr[0];
            d[1] = bgr[1];
            d[2] = bgr[2];
        }
    }
    return out;
}

} // namespace

// --- TgrTexmap ---------------------------------------------------------------

TgrTexmap::~TgrTexmap()
{
    // In any other context the name would be some other texture, or none.
    if (TextureName != 0 && TextureContext != 0 && TextureContext == CurrentContextId() && gl.glDeleteTextures)
        gl.glDeleteTextures(1, &TextureName);
}

void TgrTexmap::LoadImageFile(const std::string& fileName, int forcedWidth, int forcedHeight)
{
    try {
        TFileStream stream(fileName, TFileMode::OpenRead);
        LoadImageStream(stream, forcedWidth, forcedHeight);
    } catch (const std::exception&) {
        Pixels.clear();
        Pixels.shrink_to_fit();
    }
}

void TgrTexmap::LoadImageStream(TStream& stream, int forcedWidth, int forcedHeight)
{
    const std::int64_t start = stream.Position();
    TBitmap image = ReadImageByContent(stream);
    if (image.Width() == 0 || image.Height() == 0)
        stream.RaiseReadError(start, "image of " + std::to_string(image.Width()) + " x " +
                                         std::to_string(image.Height()) + " pixels has nothing to show");
    const int bits = vendrake::BitsPerPixel(image.PixelFormat());
    if (bits > 0 && bits <= 16)
        image = ToTrueColour(image);

    int width = PowerOfTwoSide(image.Width());
    int height = PowerOfTwoSide(image.Height());
    if (forcedWidth > 0)
        width = forcedWidth;
    if (forcedHeight > 0)
        height = forcedHeight;
    // Stretching can take a picture within the bitmap limit beyond it.
    if (TBitmap::BytesFor(width, height, image.PixelFormat()) > TBitmap::MaxBytes)
        stream.RaiseReadError(start, "image of " + std::to_string(image.Width()) + " x " +
                                         std::to_string(image.Height()) + " pixels stretched to " +
                                         std::to_string(width) + " x " + std::to_string(height) +
                                         " exceeds the bitmap limit");

    if (width == image.Width() && height == image.Height()) {
        CopyPixels(image);
    } else {
        TBitmap work(width, height, image.PixelFormat());
        image.StretchTo(work, {0, 0, width, height});
        CopyPixels(work);
    }
    AfterLoad();
}

void TgrTexmap::CopyPixels(const TBitmap& bitmap)
{
    Pixels.clear();
    Pixels.shrink_to_fit();
    Width = bitmap.Width();
    Height = bitmap.Height();
    const int bits = vendrake::BitsPerPixel(bitmap.PixelFormat());
    BitsPerPixel = static_cast<std::uint8_t>(bits);
    if (bits == 0)
        return; // device-dependent or custom layout: nothing to take
    const std::size_t b = bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 25 ? 3 : 4;
    Format = b == 1 ? GL_ALPHA : b == 2 ? SixteenBitFormat : b == 3 ? GL_RGB : GL_RGBA;
    const std::size_t w = std::size_t(Width), h = std::size_t(Height);
    const std::size_t rowBytes = b * w;
    Pixels.resize(rowBytes * h);
    if (b < 3)
        return;
    // Bitmap rows are top first and the GL wants the bottom row first: row y
    // goes straight to its mirrored place, which is the flip done in passing.
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* s = bitmap.ScanLine(static_cast<int>(y));
        std::uint8_t* d = Pixels.data() + (h - 1 - y) * rowBytes;
        if (b == 3) {
            for (std::size_t x = 0; x < w; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        } else {
            // B, G, R, A -> R, G, B, A: swap the outer colour bytes of each word.
            for (std::size_t x = 0; x < w; ++x, s += 4, d += 4) {
                std::uint32_t v;
                std::memcpy(&v, s, 4);
                v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
                std::memcpy(d, &v, 4);
            }
        }
    }
}

void TgrTexmap::FlipVertical()
{
    if (Height <= 1 || Pixels.empty())
        return;
    const std::size_t h = std::size_t(Height);
    std::size_t rowBytes = std::size_t(std::max(Width, 0)) * (BitsPerPixel / 8u);
    // Rows that would not fit the buffer mean the depth and the buffer
    // disagree (inline data whose components are not bytes): the buffer's
    // own rows are flipped then.
    if (rowBytes * h > Pixels.size())
        rowBytes = Pixels.size() / h;
    if (rowBytes == 0)
        return;
    std::uint8_t* top = Pixels.data();
    std::uint8_t* bottom = Pixels.data() + (h - 1) * rowBytes;
    for (; top < bottom; top += rowBytes, bottom -= rowBytes)
        std::swap_ranges(top, top + rowBytes, bottom);
}

// --- TgrTexMap2d -------------------------------------------------------------

bool TgrTexMap2d::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    ReadNodeHeader(stream);
    if (stream.ReadInt32() <= 0) {
        LoadImageFile(Name);
        return true;
    }
    const std::int64_t sizeAt = stream.Position();
    const std::int32_t width = stream.ReadInt32();
    const std::int32_t height = stream.ReadInt32();
    const std::int32_t components = stream.ReadInt32();
    const std::int32_t componentBits = stream.ReadInt32();
    if (width < 0 || height < 0 || components < 0)
        stream.RaiseReadError(sizeAt, "inline image of " + std::to_string(width) + " x " + std::to_string(height) +
                                          " pixels with " + std::to_string(components) + " bytes each");
    const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(components);
    const std::int64_t left = std::max<std::int64_t>(stream.Remaining(), 0);
    if (bytes > std::uint64_t(left))
        stream.RaiseReadError(stream.Position(), "inline image of " + std::to_string(width) + " x " +
                                                     std::to_string(height) + " x " + std::to_string(components) +
                                                     " bytes with " + std::to_string(left) + " bytes left");
    Width = width;
    Height = height;
    BitsPerPixel = static_cast<std::uint8_t>(std::uint32_t(componentBits) * std::uint32_t(components));
    Pixels.assign(static_cast<std::size_t>(bytes), 0);
    stream.ReadBuffer(Pixels.data(), Pixels.size());
    Format = components == 3 ? GL_RGB : components == 4 ? GL_RGBA : 0;
    FlipVertical();
    SetLinear(true);
    SetRepeat(false);
    Prepare(true);
    return true;
}

void TgrTexMap2d::Action()
{
    gl.glPushAttrib(TextureAndEnableBits);
    gl.glEnable(GL_TEXTURE_2D);
    CheckGLError("TgrTexmap.Action_1");
    if (TextureName == 0 && HasImage()) {
        // Sending the image at every paint would cost more than drawing.
        CreateTexture(true);
    } else {
        gl.glBindTexture(GL_TEXTURE_2D, TextureName);
        DrawTexture();
    }
    CheckGLError("TgrTexmap.Action_2");
    TgrTree::Action();
}

void TgrTexMap2d::RestoreState()
{
    TgrTree::RestoreState();
    gl.glPopAttrib();
}

bool TgrTexMap2d::DrawTexture()
{
    if (TextureName != 0) {
        // Uploaded once into its own texture object; binding was enough.
        CheckGLError("TgrTexmap.DrawTexture_1");
        return CheckGLError("TgrTexmap.DrawTexture_4") == 0;
    }
    const GLint wrap = Repeat ? GL_REPEAT : GL_CLAMP;
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    CheckGLError("TgrTexmap.DrawTexture_2");
    if (Linear) {
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, Mipmap ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    } else {
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    }
    CheckGLError("TgrTexmap.DrawTexture_3");
    // Rows of any width are packed without gaps.
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    CheckGLError("hej");
    if (HasImage()) {
        if (Mipmap)
            gl.gluBuild2DMipmaps(GL_TEXTURE_2D, static_cast<GLint>(Format), Width, Height, Format,
                                 GL_UNSIGNED_BYTE, Pixels.data());
        else
            gl.glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(Format), Width, Height, 0, Format,
                            GL_UNSIGNED_BYTE, Pixels.data());
    }
    return CheckGLError("TgrTexmap.DrawTexture_4") == 0;
}

bool TgrTexMap2d::HasImage() const
{
    // The GL reads Width x Height pixels of Format; a buffer too small for
    // that (fields changed by hand) is not handed over.
    const std::uint64_t needed =
        std::uint64_t(std::max(Width, 0)) * std::uint64_t(std::max(Height, 0)) * ComponentsOf(Format);
    return !Pixels.empty() && needed <= Pixels.size();
}

void TgrTexMap2d::CreateTexture(bool upload)
{
    GLuint created = 0;
    gl.glGenTextures(1, &created);
    gl.glBindTexture(GL_TEXTURE_2D, created);
    // With no texture object yet this uploads into the new one.
    if (upload)
        DrawTexture();
    TextureName = created;
    TextureContext = CurrentContextId();
}

bool TgrTexMap2d::Prepare(bool)
{
    Mipmap = true;
    // A map that already has a texture object keeps it untouched.
    if (TextureName == 0)
        CreateTexture(!Pixels.empty());
    return CheckGLError("TgrTexmap.Prepare") == 0;
}

bool TgrTexMap2d::FreePixels()
{
    Pixels.clear();
    Pixels.shrink_to_fit();
    return true;
}

// --- TgrTexEnv ---------------------------------------------------------------

TgrTexEnvSimple* TgrTexEnv::asSimple()
{
    return dynamic_cast<TgrTexEnvSimple*>(this);
}

void TgrTexEnvSimple::Action()
{
    static constexpr GLint Modes[] = {GL_REPLACE, GL_DECAL, GL_MODULATE, GL_BLEND, GL_ADD};
    gl.glPushAttrib(GL_TEXTURE_BIT);
    CheckGLError("TgrTexEnvSimple.Action");
    if (Mode < std::size(Modes))
        gl.glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, Modes[Mode]);
    const GLfloat color[4] = {EnvColor.x, EnvColor.y, EnvColor.z, EnvColor.w};
    gl.glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, color);
    CheckGLError("TgrTexEnvSimple.Action");
    TgrTree::Action();
    CheckGLError("TgrTexEnvSimple.Action");
}

void TgrTexEnvSimple::RestoreState()
{
    TgrTree::RestoreState();
    gl.glPopAttrib();
}

// --- TgrTexture --------------------------------------------------------------

void TgrTexture::Action()
{
    gl.glPushAttrib(AllAttribBits);
    CheckGLError("TgrTexture.Action_1");
    const bool units = gl.glActiveTextureARB != nullptr;
    GLint active = GL_TEXTURE0_ARB;
    if (units) {
        gl.glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
        if (ResetUnits) {
            GLint count = 0;
            gl.glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &count);
            count = std::clamp(count, 0, MaxTextureUnits);
            for (GLint u = 0; u < count; ++u) {
                gl.glActiveTextureARB(GL_TEXTURE0_ARB + static_cast<GLenum>(u));
                gl.glDisable(GL_TEXTURE_2D);
                gl.glDisable(GL_TEXTURE_1D);
                gl.glDisable(GL_TEXTURE_CUBE_MAP_ARB);
            }
        }
        if (TexUnit <= 3)
            gl.glActiveTextureARB(GL_TEXTURE0_ARB + TexUnit);
    }
    CheckGLError("TgrTexture.Action_2");
    if (TexEnv)
        TexEnv->Action();
    CheckGLError("TgrTexture.Action_3");
    if (TexNode)
        TexNode->Action();
    CheckGLError("TgrTexture.Action_4");
    if (TexMap)
        TexMap->Action();
    CheckGLError("TgrTexture.Action_5");
    CheckGLError("TgrTexture.Action_6");
    TgrTree::Action();
    if (units)
        gl.glActiveTextureARB(static_cast<GLenum>(active));
    CheckGLError("TgrTexture.Action_7");
}

void TgrTexture::RestoreState()
{
    TgrTree::RestoreState();
    // The extension flag decides, as for the rest of the program; the entry
    // point is checked as well so a driver that names the extension without
    // providing it is not called through an empty reference.
    const bool units = glExtensions.ARB_multitexture && gl.glActiveTextureARB != nullptr;
    GLint active = GL_TEXTURE0_ARB;
    if (units) {
        gl.glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
        if (!AutoRestore && TexUnit <= 3)
            gl.glActiveTextureARB(GL_TEXTURE0_ARB + TexUnit);
    }
    if (TexEnv)
        TexEnv->RestoreState();
    if (TexNode)
        TexNode->RestoreState();
    if (TexMap)
        TexMap->RestoreState();
    gl.glDisable(GL_TEXTURE_2D);
    if (units)
        gl.glActiveTextureARB(static_cast<GLenum>(active));
    gl.glPopAttrib();
}

const std::shared_ptr<TgrTexMap2d>& TgrTexture::GetTexMap()
{
    if (!TexMap) {
        SetTexMap(std::make_shared<TgrTexMap2d>());
        TexMap->SetContext(Context);
    }
    return TexMap;
}

const std::shared_ptr<TgrTexEnvSimple>& TgrTexture::GetTexEnv()
{
    if (!TexEnv) {
        SetTexEnv(std::make_shared<TgrTexEnvSimple>());
        TexEnv->SetContext(Context);
    }
    return TexEnv;
}

void TgrTexture::SetTexMap(std::shared_ptr<TgrTexMap2d> map)
{
    TexMap = std::move(map);
    if (TexMap)
        TexMap->SetAutoRestore(false);
}

void TgrTexture::SetTexEnv(std::shared_ptr<TgrTexEnvSimple> env)
{
    TexEnv = std::move(env);
    if (TexEnv)
        TexEnv->SetAutoRestore(false);
}

// --- TgrMap ------------------------------------------------------------------

bool TgrMap::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    MapKind = stream.ReadInt32();
    TextureNumber = stream.ReadInt32();
    stream.ReadBuffer(&Value2, sizeof Value2);
    stream.ReadBuffer(&Value1, sizeof Value1);
    return true;
}

} // namespace vendrake
