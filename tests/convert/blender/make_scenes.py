# Builds the small test scenes with Blender's own API and writes them with
# Blender's own exporters, next to what Blender says the answers are.
#
#   blender -b --factory-startup --python tests/convert/blender/make_scenes.py -- OUT_DIR
#   blender -b --factory-startup --python tests/convert/blender/make_scenes.py -- OUT_DIR wide
#
# Blender (Debian's blender, with python3-numpy for its glTF exporter) is
# needed only to make these files again; the build and the tests do not use
# it.
#
# OUT_DIR receives scene.glb, scene.gltf (+ scene.bin, floor.png),
# scene.fbx, scene.dae, scene.obj (+ scene.mtl) and scene.json: world
# positions and rotations of every object at chosen times, the camera's
# vertical field of view and clip distances, the light's place, where the
# camera sees each object's origin and which floor colour it sees at chosen
# points. The tests read only these files; they never run Blender.
#
# With "wide", OUT_DIR receives instead a scene as Blender starts one:
# 1920x1080, a camera fitted vertically, objects each with an action of its
# own, the camera aimed by a Track To constraint baked into its action with
# visual keying (a constraint alone is not exported), and the exporters'
# default options (glTF with the camera): wide.glb, wide.gltf (+ wide.bin),
# wide.fbx, wide.dae and wide.json.
#
# At 30 frames a second every tenth of a second is a frame, so the answers
# fall on the frames every exporter writes, and on the importer's samples.
import json
import math
import os
import sys

import bpy
from bpy_extras.object_utils import world_to_camera_view
from mathutils import Euler, Vector

FPS = 30
END_FRAME = 61  # two seconds of animation
TIMES = [i / 10 for i in range(21)]
# Floor points (Blender world x, y) whose texel colour the answers give: the
# middles of chequer squares, two metres wide.
FLOOR_POINTS = [(-1.0, -1.0), (1.0, -1.0), (-3.0, -1.0), (1.0, -3.0), (3.0, -3.0)]
CHEQUER = ((0.9, 0.8, 0.2), (0.1, 0.3, 0.8))


def out_dir():
    args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    folder = os.path.abspath(args[0] if args else "scenes")
    os.makedirs(folder, exist_ok=True)
    return folder


def clear_scene():
    bpy.ops.wm.read_factory_settings(use_empty=True)
    scene = bpy.context.scene
    scene.render.fps = FPS
    scene.frame_start = 1
    scene.frame_end = END_FRAME
    return scene


def material(name, colour, image=None):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    bsdf = m.node_tree.nodes["Principled BSDF"]
    bsdf.inputs["Base Color"].default_value = colour
    bsdf.inputs["Roughness"].default_value = 0.5
    if image is not None:
        tex = m.node_tree.nodes.new("ShaderNodeTexImage")
        tex.image = image
        m.node_tree.links.new(tex.outputs["Color"], bsdf.inputs["Base Color"])
    return m


def chequer(x, y):
    """The floor image's colour at pixel (x, y), y counted from the bottom."""
    return CHEQUER[(x // 4 + y // 4) % 2]


def chequer_image():
    size = 16
    image = bpy.data.images.new("floor", width=size, height=size, alpha=False)
    pixels = []
    for y in range(size):
        for x in range(size):
            pixels += list(chequer(x, y)) + [1.0]
    image.pixels = pixels
    image.filepath_raw = "//floor.png"
    image.file_format = "PNG"
    image.pack()
    return image


def build():
    scene = clear_scene()

    # A coloured cube that moves and turns, with a child that rides along.
    bpy.ops.mesh.primitive_cube_add(size=1.0, location=(0, 0, 1))
    cube = bpy.context.object
    cube.name = "Spinner"
    cube.data.name = "SpinnerMesh"
    cube.data.materials.append(material("Red", (0.8, 0.1, 0.1, 1.0)))
    cube.rotation_mode = "XYZ"
    for frame, location, angle in [(1, (0, 0, 1), 0.0), (31, (2, 1, 1.5), 90.0), (61, (0, 2, 1), 180.0)]:
        cube.location = location
        cube.rotation_euler = Euler((0.0, math.radians(angle / 3), math.radians(angle)), "XYZ")
        cube.keyframe_insert("location", frame=frame)
        cube.keyframe_insert("rotation_euler", frame=frame)

    bpy.ops.mesh.primitive_cube_add(size=0.4, location=(0, 0, 0))
    child = bpy.context.object
    child.name = "Moon"
    child.data.materials.append(material("Green", (0.1, 0.7, 0.2, 1.0)))
    child.parent = cube
    child.location = (1.2, 0, 0.3)

    # A textured floor, its image packed into the file.
    bpy.ops.mesh.primitive_plane_add(size=8.0, location=(0, 0, 0))
    floor = bpy.context.object
    floor.name = "Floor"
    floor.data.materials.append(material("Chequer", (1, 1, 1, 1), chequer_image()))

    # A mesh named like one of the player's glowing planes.
    bpy.ops.mesh.primitive_plane_add(size=1.0, location=(-2, 2, 2), rotation=(math.radians(90), 0, 0))
    glow = bpy.context.object
    glow.name = "Plane01"
    glow.data.materials.append(material("Glow", (0.2, 0.4, 1.0, 1.0)))

    # A point light.
    light_data = bpy.data.lights.new("Lamp", type="POINT")
    light_data.energy = 500.0
    light = bpy.data.objects.new("Lamp", light_data)
    scene.collection.objects.link(light)
    light.location = (3, -3, 5)

    # A camera with a set field of view, looking at the cube.
    camera_data = bpy.data.cameras.new("Camera")
    camera_data.sensor_fit = "VERTICAL"
    camera_data.lens_unit = "FOV"
    camera_data.angle = math.radians(45.0)
    camera_data.clip_start = 0.5
    camera_data.clip_end = 200.0
    camera = bpy.data.objects.new("Camera", camera_data)
    scene.collection.objects.link(camera)
    camera.location = (7, -7, 5)
    direction = Vector((0.5, 1, 1)) - camera.location
    camera.rotation_euler = direction.to_track_quat("-Z", "Y").to_euler()
    scene.camera = camera
    scene.render.resolution_x = 800
    scene.render.resolution_y = 600
    return scene


def answers(scene):
    objects = {}
    for obj in scene.objects:
        samples = []
        for t in TIMES:
            scene.frame_set(1 + int(round(t * FPS)))
            world = obj.matrix_world
            q = world.to_quaternion()
            # Where the camera shows the origin: x right and y up from the
            # picture's bottom-left corner, 0 to 1; z the distance ahead.
            seen = world_to_camera_view(scene, scene.camera, world.to_translation())
            samples.append({"time": t, "position": list(world.to_translation()),
                            "rotation": [q.w, q.x, q.y, q.z], "scale": list(world.to_scale()),
                            "view": list(seen)})
        objects[obj.name] = samples
    floor = []
    scene.frame_set(1)
    for x, y in FLOOR_POINTS:
        # The plane's texture spans it once, v = 0 at its -y edge.
        u, v = (x + 4) / 8, (y + 4) / 8
        floor.append({"position": [x, y, 0.0], "view": list(world_to_camera_view(scene, scene.camera, Vector((x, y, 0)))),
                      "colour": list(chequer(int(u * 16), int(v * 16)))})
    scene.frame_set(1)
    camera = scene.camera.data
    # Blender's angle is along the sensor fit; at 4:3 with a vertical fit it
    # is the vertical field of view.
    return {
        "fps": FPS,
        "up_axis": "Z",
        "objects": objects,
        "camera": {"name": scene.camera.name, "vertical_fov_degrees": math.degrees(camera.angle_y),
                   "near": camera.clip_start, "far": camera.clip_end},
        "light": {"name": "Lamp", "type": "POINT"},
        "floor": floor,
        "colours": {"Spinner": [0.8, 0.1, 0.1], "Moon": [0.1, 0.7, 0.2], "Plane01": [0.2, 0.4, 1.0]},
    }


def export(folder):
    base = os.path.join(folder, "scene")
    # Exporters that write one moment (OBJ) write the current frame: the
    # first, as the answers' time 0.
    bpy.context.scene.frame_set(1)
    bpy.ops.export_scene.gltf(filepath=base + ".glb", export_format="GLB", export_cameras=True, export_lights=True,
                              export_animations=True)
    bpy.ops.export_scene.gltf(filepath=base + ".gltf", export_format="GLTF_SEPARATE", export_cameras=True,
                              export_lights=True, export_animations=True)
    bpy.ops.export_scene.fbx(filepath=base + ".fbx", bake_anim=True, bake_anim_simplify_factor=0.0,
                              path_mode="COPY", embed_textures=True)
    bpy.context.scene.frame_set(1)
    bpy.ops.wm.collada_export(filepath=base + ".dae", include_animations=True)
    bpy.context.scene.frame_set(1)
    bpy.ops.wm.obj_export(filepath=base + ".obj", export_animation=False, path_mode="STRIP")


def keyed(obj, keys):
    """Keys location and rotation at (frame, location, z angle in degrees)."""
    obj.rotation_mode = "XYZ"
    for frame, location, angle in keys:
        obj.location = location
        obj.rotation_euler = Euler((0.0, 0.0, math.radians(angle)), "XYZ")
        obj.keyframe_insert("location", frame=frame)
        obj.keyframe_insert("rotation_euler", frame=frame)


def build_wide():
    scene = clear_scene()
    scene.render.resolution_x = 1920
    scene.render.resolution_y = 1080

    # Each object keyed on its own, so each has an action of its own
    # ("CubeAction", "TowerAction"), as Blender names them.
    bpy.ops.mesh.primitive_cube_add(size=1.0)
    cube = bpy.context.object
    cube.name = "Cube"
    cube.data.materials.append(material("Red", (0.8, 0.1, 0.1, 1.0)))
    keyed(cube, [(1, (-2, 0, 1), 0.0), (31, (0, 1, 1.5), 90.0), (61, (2, 0, 1), 180.0)])

    bpy.ops.mesh.primitive_cube_add(size=0.8)
    tower = bpy.context.object
    tower.name = "Tower"
    tower.data.materials.append(material("Blue", (0.2, 0.4, 1.0, 1.0)))
    keyed(tower, [(1, (1.5, 2, 0.5), 0.0), (31, (-1, 2.5, 2), -60.0), (61, (-2.5, 1, 0.5), -120.0)])

    light_data = bpy.data.lights.new("Lamp", type="POINT")
    light_data.energy = 500.0
    light = bpy.data.objects.new("Lamp", light_data)
    scene.collection.objects.link(light)
    light.location = (2, -6, 6)

    # 50 degrees along a vertical sensor fit: the picture's height.
    camera_data = bpy.data.cameras.new("Camera")
    camera_data.sensor_fit = "VERTICAL"
    camera_data.lens_unit = "FOV"
    camera_data.angle = math.radians(50.0)
    camera_data.clip_start = 0.5
    camera_data.clip_end = 200.0
    camera = bpy.data.objects.new("Camera", camera_data)
    scene.collection.objects.link(camera)
    scene.camera = camera
    camera.location = (0, -10, 4)
    camera.keyframe_insert("location", frame=1)
    camera.location = (3, -9, 5)
    camera.keyframe_insert("location", frame=61)
    # Aimed at a fixed point as it moves, so that the objects move across
    # the picture.
    target = bpy.data.objects.new("Aim", None)
    scene.collection.objects.link(target)
    target.location = (0, 1, 1)
    aim = camera.constraints.new("TRACK_TO")
    aim.target = target
    aim.track_axis = "TRACK_NEGATIVE_Z"
    aim.up_axis = "UP_Y"
    # The aim baked into the camera's own action: what the exporters write.
    bpy.ops.object.select_all(action="DESELECT")
    camera.select_set(True)
    bpy.context.view_layer.objects.active = camera
    unbaked = camera.animation_data.action
    bpy.ops.nla.bake(frame_start=1, frame_end=END_FRAME, only_selected=True, visual_keying=True,
                     clear_constraints=True, bake_types={"OBJECT"})
    bpy.data.actions.remove(unbaked)
    camera.animation_data.action.name = "CameraAction"
    return scene


def wide_answers(scene):
    result = {"fps": FPS, "up_axis": "Z", "objects": {}}
    for obj in scene.objects:
        samples = []
        for t in TIMES:
            scene.frame_set(1 + int(round(t * FPS)))
            world = obj.matrix_world
            q = world.to_quaternion()
            seen = world_to_camera_view(scene, scene.camera, world.to_translation())
            samples.append({"time": t, "position": list(world.to_translation()),
                            "rotation": [q.w, q.x, q.y, q.z], "view": list(seen)})
        result["objects"][obj.name] = samples
    scene.frame_set(1)
    render = scene.render
    projection = scene.camera.calc_matrix_camera(bpy.context.evaluated_depsgraph_get(), x=render.resolution_x,
                                                 y=render.resolution_y)
    camera = scene.camera.data
    # The picture's own angles, whatever the sensor fit.
    result["camera"] = {"name": scene.camera.name, "aspect": render.resolution_x / render.resolution_y,
                        "vertical_fov_degrees": math.degrees(2 * math.atan(1 / projection[1][1])),
                        "horizontal_fov_degrees": math.degrees(2 * math.atan(1 / projection[0][0])),
                        "near": camera.clip_start, "far": camera.clip_end}
    result["actions"] = {obj.name: obj.animation_data.action.name for obj in scene.objects if obj.animation_data}
    result["colours"] = {"Cube": [0.8, 0.1, 0.1], "Tower": [0.2, 0.4, 1.0]}
    return result


def export_wide(folder):
    base = os.path.join(folder, "wide")
    bpy.context.scene.frame_set(1)
    bpy.ops.export_scene.gltf(filepath=base + ".glb", export_format="GLB", export_cameras=True, export_lights=True)
    bpy.ops.export_scene.gltf(filepath=base + ".gltf", export_format="GLTF_SEPARATE", export_cameras=True,
                              export_lights=True)
    bpy.ops.export_scene.fbx(filepath=base + ".fbx")
    bpy.context.scene.frame_set(1)
    bpy.ops.wm.collada_export(filepath=base + ".dae")


def main():
    folder = out_dir()
    if "wide" in sys.argv[sys.argv.index("--") + 1:]:
        scene = build_wide()
        with open(os.path.join(folder, "wide.json"), "w") as out:
            json.dump(wide_answers(scene), out, indent=None, separators=(",", ":"))
        export_wide(folder)
        return
    scene = build()
    with open(os.path.join(folder, "scene.json"), "w") as out:
        json.dump(answers(scene), out, indent=None, separators=(",", ":"))
    # The floor's image next to the files that refer to it by name.
    bpy.data.images["floor"].save_render(os.path.join(folder, "floor.png"))
    export(folder)


main()
