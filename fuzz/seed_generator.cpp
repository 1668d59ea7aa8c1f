// Writes the fuzzers' seed corpora: small scene files made with the scene
// writer that together hold every chunk kind and every paint path, Targa
// files of every image type, PNG and JPEG files, and effect descriptors.
// Given the folder of a generated demo, it adds a cut-down copy of the demo
// scene and the demo's smaller image files.
//
//     y3d demo /tmp/demo
//     fuzz_seeds fuzz/corpus /tmp/demo
//
// Run once and committed; run again only when the formats change.
#include "stream/chunk.h"
#include "scenefile/scene_writer.h"
#include "stream/stream.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// After <cstdio>: jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <png.h>

using namespace vendrake;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

void Save(const fs::path& folder, const std::string& name, const Bytes& bytes)
{
    fs::create_directories(folder);
    TFileStream out((folder / name).string(), TFileMode::Create);
    out.WriteBuffer(bytes.data(), bytes.size());
    out.Flush();
}

Bytes Scene(const std::function<void(TSceneWriter&)>& write)
{
    TMemoryStream stream;
    TSceneWriter writer(stream);
    write(writer);
    return stream.Bytes();
}

Bytes Pattern(std::size_t n, int seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = std::uint8_t(seed + 37 * i);
    return b;
}

// --- Scenes ------------------------------------------------------------------

constexpr std::uint32_t Pos3 = 0x2;
constexpr std::uint32_t Normal = 0x8;
constexpr std::uint32_t RGB = 0x10;
constexpr std::uint32_t RGBA = 0x20;
constexpr std::uint32_t Tex2 = 0x40; // set 0, two components

// A unit quad in the record layout of flags: corners counter-clockwise, every
// further float 0.5 (normals, colours, texture coordinates).
TMeshDesc Quad(std::int32_t id, std::int32_t parentId, const std::string& name, std::uint32_t flags)
{
    TMeshDesc m;
    m.Header = {id, parentId, 0, name};
    m.Flags = flags;
    const std::int32_t stride = MeshStride(flags);
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& c : corners) {
        std::vector<float> record(std::size_t(stride), 0.5f);
        record[0] = c[0];
        record[1] = c[1];
        if (stride > 2)
            record[2] = 0;
        m.Vertices.insert(m.Vertices.end(), record.begin(), record.end());
    }
    return m;
}

TCameraDesc Camera(std::int32_t id)
{
    TCameraDesc c;
    c.Header = {id, 0, 0, "Camera01"};
    c.Lens = 43.5f;
    c.Far = 2000;
    c.Near = 2;
    return c;
}

// Keys k = 0..n-1 at k * step: a slow walk and a quarter turn about z.
TAnimTransformDesc Walk(std::int32_t id, std::int32_t ownerId, std::int32_t kind, int n)
{
    TAnimTransformDesc a;
    a.Id = id;
    a.OwnerId = ownerId;
    a.Kind = kind;
    a.FloatsPerKey = kind == 2 ? 3 : 7;
    a.Step = 10;
    for (int k = 0; k < n; ++k) {
        const float t = float(k);
        if (kind == 2)
            a.Keys.push_back({t, 2 * t, -t});
        else
            a.Keys.push_back({t, 0, 10 * t, 0, 0, 1, 0.4f * t});
    }
    return a;
}

TTexMapDesc InlineImage(const std::string& name, int bytesPerPixel)
{
    TTexMapDesc t;
    t.Header.Name = name;
    t.Inline = true;
    t.Width = 2;
    t.Height = 2;
    t.BytesPerPixel = bytesPerPixel;
    for (int i = 0; i < 4 * bytesPerPixel; ++i)
        t.Pixels.push_back(std::uint8_t(40 * i));
    return t;
}

TMaterialDesc Material(const std::string& name, std::int32_t shading)
{
    TMaterialDesc m;
    m.Header.Name = name;
    m.Shading = shading;
    return m;
}

TLightDesc Light(const std::string& name)
{
    TLightDesc l;
    l.Header.Name = name;
    return l;
}

// Camera on an animated transform; meshes of several formats under materials
// with an opaque and an alpha-blended inline texture and an image file that
// is not there; a child mesh under a fixed transform; a light nested in a
// mesh and one at the top; a chunk of an unknown kind and an empty one.
Bytes FullScene()
{
    return Scene([](TSceneWriter& w) {
        w.Camera(Camera(1));
        w.AnimTransform(Walk(2, 1, 4, 3));
        w.TexMap(InlineImage("wood.tga", 3));
        w.TexMap(InlineImage("glass.tga", 4));
        TTexMapDesc missing;
        missing.Header.Name = "missing.tga";
        w.TexMap(missing);
        w.Material(Material("Wood", 1), [&] { w.Map({1, 0, 0, 0}); });
        w.Material(Material("Glass", 2), [&] { w.Map({1, 1, 0, 0}); });
        TMaterialDesc wire = Material("Wire", 0);
        wire.TwoSided = 1;
        wire.Wireframe = 1;
        wire.LineWidth = 2;
        w.Material(wire, [&] { w.Map({0, 2, 0, 0}); });

        TMeshDesc box = Quad(10, 0, "Box", Pos3 | Normal | Tex2);
        box.Indices = {0, 1, 2, 0, 2, 3};
        box.Faces = {{4, 0, 0, 3}, {4, 1, 3, 3}};
        w.Mesh(box, [&] { w.Light(Light("BoxLight")); });
        TMeshDesc lid = Quad(11, 10, "Lid", Pos3 | RGB);
        lid.Indices = {0, 1, 2, 3};
        lid.Faces = {{7, 2, 0, 4}};
        w.Mesh(lid);
        w.Transform({11, {0, 0, 1}, {0.7071f, 0, 0.7071f, 0}, {1, 1, 1}});

        TLightDesc spot = Light("Spot01");
        spot.Spot = true;
        spot.Attenuated = true;
        spot.AttenuationDistance = 50;
        spot.Cone = 30;
        w.Light(spot);
        w.Raw(0x4E4F5445, {1, 2, 3, 4}); // "NOTE": skipped
        TChunkHeader{ChunkGroupKey, ChunkTypeMesh, 0, 0, 0}.Write(w.Stream());
    });
}

// The meshes the player's plane set-up looks for, in its order.
const char* const PlaneNames[] = {"Plane06", "Plane05", "Plane04", "Plane01", "Plane07", "Plane03", "Plane08"};

// The seven planes, each on an animated transform, beside a mesh that is no
// plane.
Bytes PlanesScene()
{
    return Scene([](TSceneWriter& w) {
        w.Camera(Camera(1));
        w.Transform({1, {0, -5, 100}, {1, 0, 0, 0}, {1, 1, 1}});
        w.Material(Material("Glow", 1));
        std::int32_t id = 20;
        for (const char* name : PlaneNames) {
            TMeshDesc plane = Quad(id, 0, name, Pos3 | Tex2);
            plane.Indices = {0, 1, 2, 0, 2, 3};
            plane.Faces = {{4, 0, 0, 6}};
            w.Mesh(plane);
            w.AnimTransform(Walk(100 + id, id, 2, 2));
            ++id;
        }
        w.Mesh(Quad(40, 0, "Ground", Pos3));
    });
}

// One mesh per paint path and record layout: plain records, indices without
// faces, faces without a material tree, wide records.
Bytes MeshFormats()
{
    return Scene([](TSceneWriter& w) {
        w.Material(Material("Flat", 0));
        w.Mesh(Quad(1, 0, "Plain", 0x1 | RGBA));
        TMeshDesc indexed = Quad(2, 0, "Indexed", Pos3 | Normal);
        indexed.Indices = {0, 1, 2, 2, 3, 0};
        w.Mesh(indexed);
        TMeshDesc wide = Quad(3, 0, "Wide", 0x4 | Normal | RGBA | Tex2 | 0x80u << 2);
        wide.Indices = {3, 2, 1, 0};
        wide.Faces = {{6, 0, 0, 4}};
        w.Mesh(wide);
        TMeshDesc child = Quad(4, 3, "Child", Pos3);
        child.Indices = {0, 1, 2};
        child.Faces = {{4, 0, 0, 3}};
        w.Mesh(child);
    });
}

// Tracks of both kinds, from one key to several; a transform of another key
// format that holds no tracks.
Bytes AnimKinds()
{
    return Scene([](TSceneWriter& w) {
        w.Camera(Camera(1));
        w.Transform({1, {0, 0, 50}, {1, 0, 0, 0}, {1, 1, 1}});
        for (std::int32_t id = 2; id <= 5; ++id)
            w.Mesh(Quad(id, 0, "Mesh" + std::to_string(id), Pos3));
        w.AnimTransform(Walk(10, 2, 2, 1));
        w.AnimTransform(Walk(11, 3, 4, 5));
        TAnimTransformDesc wide = Walk(12, 4, 4, 2);
        wide.FloatsPerKey = 10;
        w.AnimTransform(wide);
        TAnimTransformDesc none;
        none.Id = 13;
        none.OwnerId = 5;
        none.KeyFormat = 0;
        w.AnimTransform(none);
    });
}

// Lights of every kind, at the top and nested in a camera and in a mesh.
Bytes Lights()
{
    return Scene([](TSceneWriter& w) {
        w.Camera(Camera(1), [&] { w.Light(Light("Head")); });
        TLightDesc sun = Light("Sun");
        sun.Directional = true;
        sun.Specular = false;
        w.Light(sun);
        TLightDesc lamp = Light("Lamp");
        lamp.Attenuated = true;
        lamp.AttenuationDistance = 20;
        lamp.Multiplier = 2;
        w.Light(lamp);
        TLightDesc spot = Light("Spot");
        spot.Spot = true;
        spot.Cone = 45;
        w.Mesh(Quad(2, 0, "Lit", Pos3 | Normal), [&] { w.Light(spot); });
    });
}

// A chain of nested chunks, each the single nested chunk of the one before.
Bytes Nested()
{
    return Scene([](TSceneWriter& w) {
        std::function<void(int)> level = [&](int depth) {
            if (depth == 6)
                return;
            w.Material(Material("Level" + std::to_string(depth), 1), [&] { level(depth + 1); });
        };
        level(0);
        w.TexMap(InlineImage("Tiny", 3));
    });
}

// The demo scene with its bulk taken out, so that it stays a seed a fuzzer can
// mutate quickly: every chunk in file order, but meshes over MaxMeshBytes
// dropped, inline images cut to 2 x 2 pixels and animation tracks to their
// first MaxKeys keys. Texture numbers and Ids are untouched.
Bytes DemoExcerpt(const Bytes& scene)
{
    constexpr std::uint32_t MaxMeshBytes = 1024;
    constexpr std::int32_t MaxKeys = 4;
    TMemoryStream in(scene);
    TMemoryStream out;
    auto copy = [&](std::int64_t from, std::int64_t to) {
        out.WriteBuffer(scene.data() + from, std::size_t(to - from));
    };
    while (in.Remaining() > std::int64_t(TChunkHeader::Bytes)) {
        const std::int64_t start = in.Position();
        TChunkHeader header = TChunkHeader::Read(in);
        const std::int64_t end = header.Size == 0 ? in.Position() : start + header.Size;
        if (header.Size != 0 && (header.Size < TChunkHeader::Bytes || end > in.Size()))
            throw std::runtime_error("demo scene: bad chunk at byte offset " + std::to_string(start));
        const std::int64_t payload = in.Position();
        TMemoryStream rewritten;
        if (header.TypeKey == ChunkTypeMesh && header.Size > MaxMeshBytes) {
            in.Seek(end);
            continue;
        }
        if (header.TypeKey == ChunkTypeAnimTransform) {
            std::int32_t fields[7];
            in.ReadBuffer(fields, sizeof fields); // Id, owner, kind, format, floats, count, step
            if (fields[3] == 1 && fields[5] > MaxKeys && fields[4] > 0) {
                const std::int64_t keysAt = in.Position();
                const std::int64_t keyBytes = std::int64_t(fields[4]) * 4;
                const std::int64_t restAt = keysAt + keyBytes * fields[5];
                fields[5] = MaxKeys;
                rewritten.WriteBuffer(fields, sizeof fields);
                rewritten.WriteBuffer(scene.data() + keysAt, std::size_t(keyBytes * MaxKeys));
                rewritten.WriteBuffer(scene.data() + restAt, std::size_t(end - restAt));
            }
        } else if (header.TypeKey == ChunkTypeTexture) {
            std::int32_t node[4];
            in.ReadBuffer(node, sizeof node); // Id, ParentId, reserved, name length
            in.Seek(in.Position() + node[3]);
            const std::int64_t flagAt = in.Position();
            if (in.ReadInt32() > 0) {
                std::int32_t image[4];
                in.ReadBuffer(image, sizeof image); // width, height, components, bits
                const std::int64_t restAt = in.Position() + std::int64_t(image[0]) * image[1] * image[2];
                const std::int32_t cut[4] = {2, 2, image[2], image[3]};
                rewritten.WriteBuffer(scene.data() + payload, std::size_t(flagAt + 4 - payload));
                rewritten.WriteBuffer(cut, sizeof cut);
                Bytes pixels = Pattern(std::size_t(4 * image[2]), 3);
                rewritten.WriteBuffer(pixels.data(), pixels.size());
                rewritten.WriteBuffer(scene.data() + restAt, std::size_t(end - restAt));
            }
        }
        if (rewritten.Size() > 0) {
            header.Size = std::uint32_t(TChunkHeader::Bytes + rewritten.Size());
            header.Write(out);
            out.WriteBuffer(rewritten.Bytes().data(), rewritten.Bytes().size());
        } else {
            copy(start, end);
        }
        in.Seek(end);
    }
    return out.Bytes();
}

// --- Targa -------------------------------------------------------------------

Bytes TargaHeader(int idLength, int mapType, int type, int mapLength, int mapBits, int width, int height,
                  int depth, int descriptor)
{
    auto lo = [](int v) { return std::uint8_t(v & 0xFF); };
    auto hi = [](int v) { return std::uint8_t((v >> 8) & 0xFF); };
    return {lo(idLength), lo(mapType), lo(type), 0, 0, lo(mapLength), hi(mapLength), lo(mapBits), 0, 0, 0, 0,
            lo(width), hi(width), lo(height), hi(height), lo(depth), lo(descriptor)};
}

Bytes Append(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Packets for 3 x 2 pixels that cross the row boundary: a run of 4, then 2
// literal pixels.
Bytes RunLength(std::size_t pixelBytes)
{
    Bytes b{0x83};
    Bytes value = Pattern(pixelBytes, 9);
    b.insert(b.end(), value.begin(), value.end());
    b.push_back(0x01);
    Bytes literal = Pattern(2 * pixelBytes, 50);
    b.insert(b.end(), literal.begin(), literal.end());
    return b;
}

void WriteTargas(const fs::path& folder)
{
    Save(folder, "true24.tga", Append(TargaHeader(0, 0, 2, 0, 0, 3, 2, 24, 0), Pattern(18, 1)));
    Save(folder, "true32_top_id.tga",
         Append(Append(TargaHeader(4, 0, 2, 0, 0, 3, 2, 32, 0x28), {'s', 'e', 'e', 'd'}), Pattern(24, 2)));
    Save(folder, "true16.tga", Append(TargaHeader(0, 0, 2, 0, 0, 3, 2, 16, 0), Pattern(12, 3)));
    Save(folder, "mapped24.tga",
         Append(Append(TargaHeader(0, 1, 1, 4, 24, 3, 2, 8, 0x20), Pattern(12, 4)), {0, 1, 2, 3, 2, 1}));
    Save(folder, "mapped15.tga",
         Append(Append(TargaHeader(0, 1, 1, 2, 15, 3, 2, 8, 0), Pattern(4, 5)), {0, 1, 0, 1, 1, 0}));
    Save(folder, "grey.tga", Append(TargaHeader(0, 0, 3, 0, 0, 3, 2, 8, 0), Pattern(6, 6)));
    Save(folder, "rle24.tga", Append(TargaHeader(0, 0, 10, 0, 0, 3, 2, 24, 0), RunLength(3)));
    Save(folder, "rle32_top.tga", Append(TargaHeader(0, 0, 10, 0, 0, 3, 2, 32, 0x20), RunLength(4)));
    Save(folder, "rle_mapped.tga",
         Append(Append(TargaHeader(0, 1, 9, 3, 32, 3, 2, 8, 0), Pattern(12, 7)), RunLength(1)));
    Save(folder, "rle_grey.tga", Append(TargaHeader(0, 0, 11, 0, 0, 3, 2, 8, 0), RunLength(1)));
    Save(folder, "rle16.tga", Append(TargaHeader(0, 0, 10, 0, 0, 3, 2, 15, 0), RunLength(2)));
}

// --- PNG and JPEG ------------------------------------------------------------

void AppendTo(png_structp png, png_bytep data, std::size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// A width x height PNG of patterned rows in the given colour type and depth.
Bytes EncodePNG(int width, int height, int colorType, int depth, bool interlaced = false,
                bool transparency = false)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "fuzz_seeds: PNG encoding failed\n");
        std::exit(1);
    }
    png_set_write_fn(png, &out, AppendTo, nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), depth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    png_byte alpha[2] = {0, 128};
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette, 4);
        if (transparency)
            png_set_tRNS(png, info, alpha, 2, nullptr);
    }
    png_write_info(png, info);
    const int channels = colorType == PNG_COLOR_TYPE_RGB         ? 3
                         : colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                         : colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                  : 1;
    const std::size_t rowBytes = (std::size_t(width) * std::size_t(channels) * std::size_t(depth) + 7) / 8;
    std::vector<Bytes> rows;
    std::vector<png_bytep> pointers;
    for (int y = 0; y < height; ++y)
        rows.push_back(Pattern(rowBytes, 11 * y));
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        for (Bytes& row : rows)
            for (std::uint8_t& b : row)
                b &= depth == 8 ? 0x03 : depth == 4 ? 0x33 : 0xFF; // indices below 4
    for (Bytes& row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes EncodeJPEG(int width, int height, int components, bool progressive)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 50, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        Bytes row = Pattern(std::size_t(width * components), int(c.next_scanline) * 7);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

void WriteImages(const fs::path& folder)
{
    Save(folder, "true24.tga", Append(TargaHeader(0, 0, 2, 0, 0, 3, 2, 24, 0), Pattern(18, 1)));
    Save(folder, "rle_mapped.tga",
         Append(Append(TargaHeader(0, 1, 9, 3, 32, 3, 2, 8, 0), Pattern(12, 7)), RunLength(1)));
    Save(folder, "rgb8.png", EncodePNG(5, 3, PNG_COLOR_TYPE_RGB, 8));
    Save(folder, "rgba16_interlaced.png", EncodePNG(9, 9, PNG_COLOR_TYPE_RGB_ALPHA, 16, true));
    Save(folder, "palette4_trns.png", EncodePNG(6, 2, PNG_COLOR_TYPE_PALETTE, 4, false, true));
    Save(folder, "grey2.png", EncodePNG(7, 3, PNG_COLOR_TYPE_GRAY, 2));
    Save(folder, "grey_alpha8.png", EncodePNG(3, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 8));
    Save(folder, "rgb.jpg", EncodeJPEG(8, 8, 3, false));
    Save(folder, "grey.jpg", EncodeJPEG(5, 3, 1, false));
    Save(folder, "progressive.jpg", EncodeJPEG(17, 9, 3, true));
}

// --- Descriptors -------------------------------------------------------------

void WriteDescriptors(const fs::path& folder)
{
    auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    Save(folder, "painter.xml",
         text("<EFFECT NAME=\"Flash\" TYPE=\"Painter\" COMPATIBLE=\"1\" VERSION=\"1.0\">\n"
              "<DESCRIPTION>A white flash</DESCRIPTION>\n"
              "<INIT><PROPERTY NAME=\"Speed\" TYPE=\"FLOAT\" MIN=\"0.5\" MAX=\"1e3\"/></INIT>\n"
              "<RUNTIME><PROPERTY NAME=\"Count\" TYPE=\"INT\" MIN=\"-3\" MAX=\"$7F\">x</PROPERTY>\n"
              "<PROPERTY NAME='On' TYPE='BOOL'/></RUNTIME>\n"
              "<OUTPUT><PROPERTY NAME=\"Level\" TYPE=\"float\" MIN=\"\" MAX=\" -.25E-2 \"/></OUTPUT>\n"
              "</EFFECT>\n"));
    Save(folder, "markup.xml",
         text("<?xml version=\"1.0\"?><!-- note --><?pi data?>\n"
              "<!DOCTYPE X [<!ELEMENT X ANY><!ATTLIST X A CDATA #IMPLIED>]>\n"
              "<effect type=\"Source\"><![CDATA[<PROPERTY NAME=\"no\"/>]]>\n"
              "<output/><property name=\"Out\" type=\"Int\" min=\"0x10\" max=\"2147483647\"/>\n"
              "<!OTHER thing></effect>&amp;"));
    Save(folder, "bad_number.xml",
         text("<EFFECT TYPE=\"Painter\"><INIT><PROPERTY NAME=\"A\" TYPE=\"INT\" MIN=\"1\"/>"
              "<PROPERTY NAME=\"B\" TYPE=\"FLOAT\" MIN=\"1,5\"/></INIT></EFFECT>"));
    Save(folder, "unclosed.xml", text("<EFFECT TYPE=\"Painter\"><INIT><PROPERTY NAME=\"A"));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds <corpus folder> [<demo folder>]\n");
        return 2;
    }
    try {
        const fs::path corpus = argv[1];
        const fs::path scenes = corpus / "scene_loader_fuzz";
        Save(scenes, "full.y3d", FullScene());
        Save(scenes, "planes.y3d", PlanesScene());
        Save(scenes, "mesh_formats.y3d", MeshFormats());
        Save(scenes, "anim_kinds.y3d", AnimKinds());
        Save(scenes, "lights.y3d", Lights());
        Save(scenes, "nested.y3d", Nested());
        WriteTargas(corpus / "targa_fuzz");
        WriteImages(corpus / "image_readers_fuzz");
        WriteDescriptors(corpus / "descriptor_fuzz");
        if (argc == 3) {
            const fs::path demo = argv[2];
            Save(scenes, "demo_excerpt.y3d", DemoExcerpt(ReadWholeFile((demo / "ZuzezurAdor.y3d").string())));
            for (const char* name : {"sky.jpg", "halo.png", "panel.tga"})
                Save(corpus / "image_readers_fuzz", std::string("demo_") + name,
                     ReadWholeFile((demo / name).string()));
            Save(corpus / "targa_fuzz", "demo_panel.tga", ReadWholeFile((demo / "panel.tga").string()));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
