#include "tools/demo/scene.h"

#include "stream/stream.h"
#include "tools/demo/image_files.h"
#include "tools/demo/meshes.h"
#include "tools/demo/planes.h"
#include "tools/demo/textures.h"
#include "tools/demo/timeline.h"

#include <cmath>

namespace vendrake::demo {

namespace {

// Materials in file order: a face record names its material by position.
enum TMaterialIndex : std::int32_t {
    MatSky,
    MatGround,
    MatCore,
    MatRock,
    MatCage,
    MatMetal,
    MatPanel,
    MatGlass,
    MatVeil,
    MatHalo,
    MatFlare,
    MatRays,
    MatReflection,
    MatReflectionViolet,
    MatBeacon,
};

// Texture maps in file order: a material's map names its texture by position.
enum TTextureIndex : std::int32_t {
    TexSky,
    TexGround,
    TexCore,
    TexRock,
    TexMetal,
    TexPanel,
    TexGlass,
    TexVeil,
    TexHalo,
    TexRays,
    TexReflection,
    NoTexture = -1,
};

constexpr const char* SkyFile = "sky.jpg";
constexpr const char* RockFile = "rock.tga";
constexpr const char* PanelFile = "panel.tga";
constexpr const char* GlassFile = "glass.tga";
constexpr const char* VeilFile = "veil.tga";
constexpr const char* HaloFile = "halo.png";

// Map kind 1 modulates the lit colour with the texture (and alpha-blends
// 32-bit images); any other kind leaves the decal mode, in which an RGB
// texture replaces the colour outright.
constexpr std::int32_t Modulate = 1;
constexpr std::int32_t Decal = 0;

enum TNodeId : std::int32_t {
    CameraId = 1,
    BeaconId = 10,
    SkyId,
    TerrainId,
    CoreId,
    MoonId,            // three moons
    CageId = MoonId + 3,
    GyroId,            // two rings
    GateId = GyroId + 2, // four gates
    TunnelId = GateId + 4,
    CrystalId,         // three clusters
    AuroraId = CrystalId + 3,
    PlaneId,           // seven planes
    LightId = 90,
    TextureId = 100,
    MaterialId = 130,
    TransformId = 200,
};

struct TMaterialEntry {
    TMaterialDesc Material;
    std::int32_t Texture = NoTexture;
    std::int32_t Kind = Modulate;
};

TVector4 Rgba(double r, double g, double b, double a = 1)
{
    return {float(r), float(g), float(b), float(a)};
}

TVector3 V3(TVec v) { return {float(v.x), float(v.y), float(v.z)}; }

TMaterialEntry Material(const char* name, std::int32_t shading, bool twoSided, TVector4 diffuse, TVector4 emission,
                       TVector4 specular, float shininess, std::int32_t texture, std::int32_t kind = Modulate)
{
    TMaterialEntry entry;
    TMaterialDesc& m = entry.Material;
    m.Header = {0, 0, 0, name}; // numbered by Materials
    m.Shading = shading;
    m.TwoSided = twoSided ? 1 : 0;
    m.Ambient = {diffuse.x * 0.3f, diffuse.y * 0.3f, diffuse.z * 0.3f, 1};
    m.Diffuse = diffuse;
    m.Specular = specular;
    m.Emission = emission;
    m.Shininess = shininess;
    m.SpecularLevel = 1;
    entry.Texture = texture;
    entry.Kind = kind;
    return entry;
}

std::vector<TMaterialEntry> Materials()
{
    constexpr std::int32_t Flat = 0, Smooth = 1;
    const TVector4 none = Rgba(0, 0, 0);
    std::vector<TMaterialEntry> m;
    m.push_back(Material("Sky", Smooth, false, Rgba(1, 1, 1), none, none, 0.1f, TexSky, Decal));
    m.push_back(Material("Ground", Smooth, false, Rgba(0.8, 0.8, 0.8), Rgba(0.13, 0.14, 0.22), Rgba(0.08, 0.08, 0.08),
                         0.05f, TexGround));
    m.push_back(Material("Core", Smooth, false, Rgba(0.6, 0.5, 0.4), Rgba(0.95, 0.72, 0.5), Rgba(0.9, 0.8, 0.7), 0.4f,
                         TexCore));
    m.push_back(Material("Rock", Flat, false, Rgba(0.8, 0.74, 0.68), Rgba(0.12, 0.09, 0.12), Rgba(0.25, 0.25, 0.25),
                         0.12f, TexRock));
    TMaterialEntry cage = Material("Cage", Smooth, true, Rgba(0.1, 0.3, 0.4), Rgba(0.25, 0.8, 1.0),
                                  Rgba(0.5, 0.5, 0.5), 0.3f, NoTexture);
    cage.Material.Wireframe = 1;
    cage.Material.LineWidth = 1.5f;
    m.push_back(cage);
    m.push_back(Material("Metal", Smooth, true, Rgba(0.8, 0.82, 0.88), Rgba(0.28, 0.3, 0.37), Rgba(1, 1, 1), 0.6f,
                         TexMetal));
    m.push_back(Material("Panel", Smooth, false, Rgba(0.75, 0.75, 0.8), Rgba(0.42, 0.42, 0.48), Rgba(0.3, 0.3, 0.3),
                         0.2f, TexPanel));
    m.push_back(Material("Glass", Flat, true, Rgba(0.95, 1.0, 1.0), Rgba(0.3, 0.22, 0.5), Rgba(1, 1, 1), 0.5f,
                         TexGlass));
    m.push_back(Material("Veil", Smooth, true, Rgba(0, 0, 0), Rgba(1, 1, 1), none, 0.1f, TexVeil));
    m.push_back(Material("Halo", Smooth, false, Rgba(0, 0, 0), Rgba(1.0, 0.78, 0.55), none, 0.1f, TexHalo));
    m.push_back(Material("Flare", Smooth, false, Rgba(0, 0, 0), Rgba(1.0, 0.96, 0.9), none, 0.1f, TexHalo));
    m.push_back(Material("Rays", Smooth, false, Rgba(0, 0, 0), Rgba(0.75, 0.8, 1.0), none, 0.1f, TexRays));
    m.push_back(Material("Reflection", Smooth, false, Rgba(0, 0, 0), Rgba(0.35, 0.85, 0.75), none, 0.1f,
                         TexReflection));
    m.push_back(Material("ReflectionViolet", Smooth, false, Rgba(0, 0, 0), Rgba(0.8, 0.45, 1.0), none, 0.1f,
                         TexReflection));
    m.push_back(Material("Beacon", Flat, false, Rgba(0.3, 0.3, 0.3), Rgba(0.9, 0.95, 1.0), none, 0.1f, NoTexture));
    for (std::size_t i = 0; i < m.size(); ++i)
        m[i].Material.Header.Id = MaterialId + static_cast<std::int32_t>(i);
    return m;
}

TTexMapDesc FileTexture(std::int32_t index, const char* fileName)
{
    TTexMapDesc t;
    t.Header = {TextureId + index, 0, 0, fileName};
    return t;
}

TTexMapDesc InlineTexture(std::int32_t index, const char* name, const TImage& image)
{
    TTexMapDesc t;
    t.Header = {TextureId + index, 0, 0, name};
    t.Inline = true;
    t.Width = image.Width;
    t.Height = image.Height;
    t.BytesPerPixel = image.Channels;
    t.BitsPerComponent = 8;
    t.Pixels = image.Pixels;
    return t;
}

// In TTextureIndex order.
std::vector<TTexMapDesc> TextureMaps()
{
    return {
        FileTexture(TexSky, SkyFile),
        InlineTexture(TexGround, "ground", GroundTexture()),
        InlineTexture(TexCore, "core", CoreTexture()),
        FileTexture(TexRock, RockFile),
        InlineTexture(TexMetal, "metal", MetalTexture()),
        FileTexture(TexPanel, PanelFile),
        FileTexture(TexGlass, GlassFile),
        FileTexture(TexVeil, VeilFile),
        FileTexture(TexHalo, HaloFile),
        InlineTexture(TexRays, "rays", StreakTexture()),
        InlineTexture(TexReflection, "reflection", GhostTexture()),
    };
}

std::int32_t KeyCount()
{
    return static_cast<std::int32_t>(std::ceil(SceneSeconds * SceneUnitsPerSecond / KeyStep)) + 1;
}

double KeySeconds(std::int32_t k) { return double(k) * KeyStep / SceneUnitsPerSecond; }

TTransformDesc StaticTransform(std::int32_t ownerId, TVec position, const TFrame& frame)
{
    TTransformDesc t;
    t.OwnerId = ownerId;
    t.Position = V3(position);
    t.Rotation = FileRotation(frame);
    return t;
}

// Terrain colours: teal meadows on the basin floor, rock on the slopes,
// snow on the peaks, scorched earth round the crater under the core.
TVec GroundColour(TVec p, TVec normal)
{
    const double r = std::hypot(p.x, p.z);
    const double steep = SmoothStep(0.8, 0.5, normal.y);
    const double patches = Fbm(p.x / 70, p.z / 70, 3, 94);
    TVec c = Lerp(TVec{0.3, 0.48, 0.42}, TVec{0.42, 0.5, 0.36}, 0.5 + 0.5 * patches);
    c = Lerp(c, TVec{0.52, 0.48, 0.4}, SmoothStep(-30, 10, p.y));
    c = Lerp(c, TVec{0.36, 0.35, 0.36}, steep);
    c = Lerp(c, TVec{0.95, 0.97, 1.0}, SmoothStep(35, 60, p.y + 14 * patches) * (1 - 0.5 * steep));
    c = Lerp(c, TVec{0.3, 0.29, 0.33}, SmoothStep(110, 60, r));
    const double variation = 0.05 * Fbm(p.x / 25, p.z / 25, 2, 95);
    return c + TVec{variation, variation, variation};
}

TMeshBuilder MoonShape(double radius, std::uint32_t seed)
{
    return Geosphere(radius, 1, true, MatRock, [seed](TVec n) {
        return 1.0 + 0.22 * ValueNoise(n.x * 2.1 + n.z * 0.7, n.y * 2.1 - n.x * 0.5, seed) +
               0.08 * ValueNoise(n.z * 5, n.y * 5 + n.x * 3, seed + 7);
    });
}

TMeshBuilder CrystalCluster(std::uint64_t seed)
{
    TRandom random(seed);
    TMeshBuilder cluster;
    constexpr int Count = 7;
    for (int i = 0; i < Count; ++i) {
        const double radius = i == 0 ? 3.6 : random.Range(1.4, 2.8);
        const double height = i == 0 ? 24 : random.Range(8, 18);
        TMeshBuilder one = Crystal(radius, height, radius * 1.8, MatGlass);
        const double tilt = i == 0 ? 0.05 : random.Range(0.25, 0.6);
        const double heading = 2 * Pi * i / Count + random.Range(-0.3, 0.3);
        const TFrame frame = Compose(AxisRotation({0, 1, 0}, heading), AxisRotation({1, 0, 0}, tilt));
        const double distance = i == 0 ? 0 : random.Range(4.5, 9.0);
        one.Transform(frame, {distance * std::sin(heading), 0, distance * std::cos(heading)});
        cluster.Append(one);
    }
    return cluster;
}

// Curtains of light over the northern and western mountains, in scene
// coordinates; seen from both sides.
TMeshBuilder AuroraCurtains()
{
    TMeshBuilder b;
    struct TCurtain {
        TVec Start, End;
        double Sway, Bottom, Top;
    };
    const TCurtain curtains[] = {{{-420, 0, -430}, {380, 0, -470}, 55, 150, 300},
                                 {{-520, 0, 260}, {-470, 0, -330}, 45, 130, 260}};
    constexpr int Columns = 64;
    for (const TCurtain& c : curtains) {
        const auto first = static_cast<std::int32_t>(b.VertexCount());
        const TVec along = Normalize(c.End - c.Start);
        const TVec across = Normalize(Cross(along, {0, 1, 0}));
        for (int i = 0; i <= Columns; ++i) {
            const double s = double(i) / Columns;
            const TVec base = Lerp(c.Start, c.End, s) + across * (c.Sway * std::sin(s * 3 * Pi + 0.7));
            const double lift = 20 * std::sin(s * 2 * Pi);
            const double u = 0.01 + 0.98 * s;
            b.Add({base + TVec{0, c.Bottom + lift, 0}, across, u, 0.0});
            b.Add({base + TVec{0, c.Top + lift, 0}, across, u, 1.0});
        }
        for (int i = 0; i < Columns; ++i) {
            const std::int32_t a = first + 2 * i;
            b.QuadFacing(a, a + 2, a + 3, a + 1, MatVeil, across);
        }
    }
    b.AddBackFaces();
    return b;
}

void WriteMesh(TSceneWriter& w, const TMeshBuilder& shape, std::int32_t id, std::int32_t parentId,
               const std::string& name, const TSceneWriter::TNested& nested = {})
{
    w.Mesh(shape.Build({id, parentId, 0, name}), nested);
}

} // namespace

TAnimTransformDesc PositionKeys(std::int32_t id, std::int32_t ownerId, const std::function<TVec(double)>& at)
{
    TAnimTransformDesc a;
    a.Id = id;
    a.OwnerId = ownerId;
    a.Kind = 2;
    a.FloatsPerKey = 3;
    a.Step = KeyStep;
    const std::int32_t count = KeyCount();
    for (std::int32_t k = 0; k < count; ++k) {
        const TVec p = at(KeySeconds(k));
        a.Keys.push_back({float(p.x), float(p.y), float(p.z)});
    }
    return a;
}

TAnimTransformDesc PoseKeys(std::int32_t id, std::int32_t ownerId, const TPlacementAt& at)
{
    TAnimTransformDesc a;
    a.Id = id;
    a.OwnerId = ownerId;
    a.Kind = 4;
    a.FloatsPerKey = 7;
    a.Step = KeyStep;
    const std::int32_t count = KeyCount();
    for (std::int32_t k = 0; k < count; ++k) {
        const TPose pose = at(KeySeconds(k));
        const TQuat q = FileRotation(pose.Frame);
        a.Keys.push_back({float(pose.Position.x), float(pose.Position.y), float(pose.Position.z), q.x, q.y, q.z, q.w});
    }
    return a;
}

std::vector<std::uint8_t> SceneBytes()
{
    TMemoryStream stream;
    TSceneWriter w(stream);
    std::int32_t transformId = TransformId;

    // The camera, flying.
    TCameraDesc camera;
    camera.Header = {CameraId, 0, 0, "Camera01"};
    camera.Lens = float(CameraLens);
    camera.Near = float(CameraNear);
    camera.Far = float(CameraFar);
    w.Camera(camera);
    w.AnimTransform(PoseKeys(transformId++, CameraId, CameraPose));

    // Lights at the top level are numbered but not painted; they stand for
    // the sun and a fill light of the authoring tool.
    TLightDesc sun;
    sun.Header = {LightId, 0, 0, "Sun"};
    sun.Directional = true;
    sun.Color = {1.0f, 0.85f, 0.7f};
    w.Light(sun);
    TLightDesc fill;
    fill.Header = {LightId + 1, 0, 0, "Fill"};
    fill.Spot = true;
    fill.Cone = 60;
    fill.Color = {0.4f, 0.5f, 0.9f};
    fill.Multiplier = 0.6f;
    w.Light(fill);

    for (const TTexMapDesc& texture : TextureMaps())
        w.TexMap(texture);
    for (const TMaterialEntry& entry : Materials()) {
        if (entry.Texture == NoTexture) {
            w.Material(entry.Material);
            continue;
        }
        TMapDesc map;
        map.MapKind = entry.Kind;
        map.TextureNumber = entry.Texture;
        w.Material(entry.Material, [&] { w.Map(map); });
    }

    // The beacon comes first: the light it carries is set before anything
    // else is painted.
    TLightDesc beam;
    beam.Header = {LightId + 2, BeaconId, 0, "BeaconLight"};
    beam.Color = {1.0f, 0.93f, 0.82f};
    beam.Multiplier = 1.3f;
    WriteMesh(w, Geosphere(2.2, 1, true, MatBeacon), BeaconId, 0, "Beacon", [&] { w.Light(beam); });
    w.AnimTransform(PositionKeys(transformId++, BeaconId, BeaconPosition));

    WriteMesh(w, UvSphere(1500, 48, 16, MatSky, true, -20, 90), SkyId, 0, "Sky");

    const int cells = 96;
    WriteMesh(w, HeightField(cells, 2 * TerrainHalfSize / cells, 4, TerrainHeight, GroundColour, MatGround),
              TerrainId, 0, "Terrain");
    w.Transform(StaticTransform(TerrainId, {}, {}));

    // The core spins upside down, so the moons that hang from it circle
    // below their twins, which keep to the scene's own frame above.
    WriteMesh(w, UvSphere(10, 40, 20, MatCore), CoreId, 0, "Core");
    w.AnimTransform(PoseKeys(transformId++, CoreId, [](double t) {
        return TPose{{0, 0, 0}, Compose(AxisRotation({0, 1, 0}, Radians(12 * t)), AxisRotation({1, 0, 0}, Pi))};
    }));
    const double moonSizes[] = {3.0, 2.3, 3.4};
    for (int i = 0; i < 3; ++i) {
        const std::int32_t id = MoonId + i;
        WriteMesh(w, MoonShape(moonSizes[i], 95u + std::uint32_t(i)), id, CoreId, "Moon0" + std::to_string(i + 1));
        w.AnimTransform(PoseKeys(transformId++, id, [i](double t) {
            const double angle = Radians(120.0 * i + 15 * t);
            const TVec position{36 * std::cos(angle), 9 + 2 * std::sin(t * 0.7 + i), 36 * std::sin(angle)};
            return TPose{position, AxisRotation({0.3, 1, 0.5 - 0.3 * i}, Radians(40 * t + 50 * i))};
        }));
    }

    WriteMesh(w, Geosphere(17, 2, false, MatCage), CageId, 0, "Cage");
    w.AnimTransform(PoseKeys(transformId++, CageId, [](double t) {
        return TPose{{0, 0, 0}, AxisRotation({0.3, 1, 0.2}, Radians(-9 * t))};
    }));
    WriteMesh(w, Torus(23, 0.9, 96, 12, MatMetal), GyroId, 0, "Gyro01");
    w.AnimTransform(PoseKeys(transformId++, GyroId, [](double t) {
        return TPose{{0, 0, 0}, Compose(AxisRotation({0, 1, 0}, Radians(14 * t)), AxisRotation({1, 0, 0}, Radians(31 * t)))};
    }));
    WriteMesh(w, Torus(28, 0.9, 112, 12, MatMetal), GyroId + 1, 0, "Gyro02");
    w.AnimTransform(PoseKeys(transformId++, GyroId + 1, [](double t) {
        return TPose{{0, 0, 0}, Compose(AxisRotation({1, 0, 0}, Radians(70)), AxisRotation({0, 1, 0}, Radians(-23 * t)))};
    }));

    const std::vector<TPlacement> gates = GatePlacements();
    for (std::size_t i = 0; i < gates.size(); ++i) {
        const std::int32_t id = GateId + static_cast<std::int32_t>(i);
        WriteMesh(w, Torus(GateRadius, GateTube, 72, 12, MatMetal), id, 0, "Gate0" + std::to_string(i + 1));
        w.Transform(StaticTransform(id, gates[i].Centre, gates[i].Frame));
    }

    // Slots in the walls every few metres flash the outside past.
    const auto slots = [](int ring, int side) { return ring % 18 >= 6 && ring % 18 < 9 && side % 5 == 2; };
    WriteMesh(w, Pipe(TunnelRings(), TunnelInnerRadius, TunnelOuterRadius, 20, 8, MatPanel, MatMetal, slots),
              TunnelId, 0, "Tunnel");

    const std::vector<TPlacement> sites = CrystalSites();
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const std::int32_t id = CrystalId + static_cast<std::int32_t>(i);
        WriteMesh(w, CrystalCluster(0xC0FFEE00u + i), id, 0, "Crystals0" + std::to_string(i + 1));
        w.Transform(StaticTransform(id, sites[i].Centre, sites[i].Frame));
    }

    WriteMesh(w, AuroraCurtains(), AuroraId, 0, "Aurora");
    w.AnimTransform(PositionKeys(transformId++, AuroraId, [](double t) {
        return TVec{14 * std::sin(t / 7), 6 * std::sin(t / 5), 10 * std::cos(t / 9)};
    }));

    const std::int32_t planeMaterials[] = {MatHalo, MatFlare, MatRays, MatRays, MatReflection, MatReflectionViolet,
                                           MatReflection};
    for (std::size_t i = 0; i < PlaneLooks.size(); ++i) {
        const std::int32_t id = PlaneId + static_cast<std::int32_t>(i);
        WriteMesh(w, Square(PlaneLooks[i].Size, planeMaterials[i]), id, 0, PlaneLooks[i].Name);
        w.AnimTransform(PoseKeys(transformId++, id, [i](double t) { return PlanePose(i, t, CameraPose(t)); }));
    }
    return stream.Bytes();
}

std::vector<TDemoFile> TextureFiles()
{
    return {
        {SkyFile, EncodeJpeg(SkyTexture(), 92)},
        {RockFile, EncodeTarga(RockTexture(), false, false)},
        {PanelFile, EncodeTarga(PanelTexture(), true, true)},
        {GlassFile, EncodeTarga(GlassTexture(), true, false)},
        {VeilFile, EncodeTarga(VeilTexture(), false, true)},
        {HaloFile, EncodePng(HaloTexture())},
    };
}

} // namespace vendrake::demo
